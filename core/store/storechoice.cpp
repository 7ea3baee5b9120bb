#include "core/store/storechoice.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "core/knowledgebase.h"
#include "pg/pgdb.h"
#include "core/store/pgstore.h"
#include "core/store/sqlitestore.h"
#include "core/store/usersettings.h"

namespace {

constexpr std::string_view kChoiceSetting = "database";
constexpr std::string_view kWarnedSetting = "network-warnings";

bool IsUri(std::string_view text) {
    return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

// A connection string: key=value pairs that libpq reads. A path never starts like one of ours.
bool IsConninfo(std::string_view text) {
    if (text.empty() || text[0] == '/' || text[0] == '.' || text[0] == '~') return false;
    if (text.find('=') == std::string_view::npos) return false;
    try {
        ParseConninfo(std::string(text));
        return true;
    } catch (const EPgException&) {
        return false;
    }
}

// One line: the text of a setting file without its line break.
std::string Line(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

TStoreChoice ParseChoice(std::string_view text) {
    TStoreChoice choice;
    if (IsUri(text) || IsConninfo(text)) {
        choice.kind = TStoreChoice::TKind::Server;
    }
    choice.where = text;
    return choice;
}

TStoreChoice ServerChoice(std::string_view connection) {
    TStoreChoice choice;
    choice.kind = TStoreChoice::TKind::Server;
    if (IsUri(connection) || connection.find('=') != std::string_view::npos) {
        choice.where = connection;
    } else {
        choice.where = "service=" + std::string(connection);
    }
    ParseConninfo(choice.where);  // raises libpq's own reason
    return choice;
}

TStoreChoice FileChoice(std::string_view path) {
    TStoreChoice choice;
    choice.where = path;
    return choice;
}

TStoreChoice CurrentChoice() {
    if (const char* env = std::getenv(std::string(kDatabaseVariable).c_str()); env && *env) {
        TStoreChoice choice = ParseChoice(env);
        choice.source = TStoreChoice::TSource::Environment;
        return choice;
    }
    if (const auto saved = ReadUserSetting(kChoiceSetting)) {
        TStoreChoice choice = ParseChoice(Line(*saved));
        choice.source = TStoreChoice::TSource::Saved;
        return choice;
    }
    return {};
}

std::string KeptChoiceText(const TStoreChoice& choice) {
    std::string text = choice.where;
    if (choice.IsServer()) {
        for (const auto& [key, value] : ParseConninfo(text)) {
            if (key == "password") {
                throw Exception(
                    "A password is not kept in the settings; put it in the password file "
                    "~/.pgpass or in a service file instead");
            }
        }
    } else if (!text.empty()) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(text, error);
        if (!error) text = absolute.lexically_normal().string();
    }
    // Read back as it is meant: a file whose path could pass for a connection string is not one.
    if (ParseChoice(text).kind != choice.kind || text.find('\n') != std::string::npos) {
        throw Exception("\"" + text + "\" cannot be kept as the knowledge base's place");
    }
    return text;
}

void SaveChoice(const TStoreChoice& choice) {
    WriteUserSetting(kChoiceSetting, KeptChoiceText(choice) + "\n");
}

std::string ChoiceFile(const TStoreChoice& choice) {
    if (!choice.where.empty()) return choice.where;
    return kb::KnowledgeBaseFile(kb::MakeKnowledgeBaseDirectory());
}

std::unique_ptr<TKnowledgeStore> MakeStore(const TStoreChoice& choice) {
    if (choice.IsServer()) return std::make_unique<TPgStore>(choice.where);
    return std::make_unique<TSQLiteStore>(ChoiceFile(choice));
}

std::unique_ptr<TKnowledgeStore> MakeServerStore(std::string_view connection) {
    return MakeStore(ServerChoice(connection));
}

bool WarnOfNetworkFileNow(const std::string& file, bool (*isNetwork)(const std::string&)) {
    if (!isNetwork(file)) return false;
    std::error_code error;
    std::string path = std::filesystem::weakly_canonical(file, error).string();
    if (error || path.empty()) path = file;
    const std::string warned = ReadUserSetting(kWarnedSetting).value_or("");
    std::istringstream lines(warned);
    for (std::string line; std::getline(lines, line);)
        if (line == path) return false;
    try {
        WriteUserSetting(kWarnedSetting, warned + path + "\n");
    } catch (const Exception&) {
        // Not recorded: the warning comes again at the next start, which is better than never.
    }
    return true;
}
