#include "core/store/usersettings.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "port/datadir.h"
#include "port/errors.h"
#include "port/guid.h"

namespace {

constexpr std::string_view kFolder = "Pelloquin";
constexpr std::string_view kWriterName = "writer-name";

// A name without the blanks and line breaks around it, which no one means as part of it.
std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::string UserSettingsFolder() {
    const std::string home = UserConfigHome();
    return home.empty() ? home : home + "/" + std::string(kFolder);
}

std::optional<std::string> ReadUserSetting(std::string_view name) {
    const std::string folder = UserSettingsFolder();
    if (folder.empty()) return std::nullopt;
    std::ifstream file(folder + "/" + std::string(name), std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return std::nullopt;
    return text.str();
}

void WriteUserSetting(std::string_view name, std::string_view value) {
    const std::string folder = UserSettingsFolder();
    if (folder.empty()) throw Exception("There is no home folder to keep the settings in");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string path = folder + "/" + std::string(name);
    // A name of this write's own, so that two writers at once never share it.
    const std::string temporary = path + "." + GuidToString(NewGuid()) + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(value.data(), static_cast<std::streamsize>(value.size()));
        file.close();
        if (!file) {
            std::filesystem::remove(temporary, error);
            throw Exception("Cannot write the setting file " + path);
        }
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        throw Exception("Cannot write the setting file " + path);
    }
}

std::string ChosenWriterName() {
    const auto name = ReadUserSetting(kWriterName);
    return name ? std::string(Trimmed(*name)) : std::string();
}

void SaveWriterName(std::string_view name) {
    WriteUserSetting(kWriterName, Trimmed(name));
}

std::string WriterName() {
    std::string name = ChosenWriterName();
    return name.empty() ? LoginName() : name;
}
