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
