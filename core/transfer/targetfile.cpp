#include "core/transfer/targetfile.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "port/filesystem.h"

namespace fs = std::filesystem;

namespace {

// The files SQLite keeps beside a database, which writing over would damage it as surely.
constexpr std::array<const char*, 4> kDatabaseFiles = {"", "-journal", "-wal", "-shm"};

// The path with every link in its existing part resolved, for comparing paths of files that
// need not exist.
fs::path Resolved(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(path, error);
    if (error) resolved = fs::absolute(path, error).lexically_normal();
    return resolved;
}

bool IsFileOf(const std::string& path, const std::string& kbFile) {
    const fs::path resolved = Resolved(path);
    const auto identity = IdentityOf(path);
    for (const char* suffix : kDatabaseFiles) {
        const std::string file = kbFile + suffix;
        if (Resolved(file) == resolved) return true;
        if (identity && IdentityOf(file) == identity) return true;
    }
    return false;
}

std::string KindOf(fs::file_type type) {
    switch (type) {
        case fs::file_type::directory:
            return "a folder";
        case fs::file_type::block:
        case fs::file_type::character:
            return "a device";
        case fs::file_type::fifo:
            return "a named pipe";
        case fs::file_type::socket:
            return "a socket";
        default:
            return "something other than a regular file";
    }
}

}  // namespace

std::string CheckedTarget(const std::string& target, const std::string& kbFile) {
    if (target.empty()) throw ETargetRefused("No file was named to write to");
    auto refuse = [&target](const std::string& why) {
        throw ETargetRefused(target + " " + why + "; nothing was written");
    };
    std::error_code error;
    std::string path = target;
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        const fs::path followed = fs::canonical(target, error);
        if (error) refuse("is a link to a file that does not exist");
        path = followed.string();
    }
    if (!kbFile.empty() && IsFileOf(path, kbFile)) {
        refuse("is the knowledge base in use, or one of its files");
    }
    const fs::file_status status = fs::status(path, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        refuse("is " + KindOf(status.type()) + ", which an export or a copy never replaces");
    }
    return path;
}
