#include "port/datadir.h"

#include <climits>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    const std::string_view exe(path, static_cast<size_t>(length));
    const size_t slash = exe.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(exe.substr(0, slash == 0 ? 1 : slash));
}

namespace {

// $HOME, or the home folder of the account; "" when there is none. No trailing '/'.
std::string HomeFolder() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] != '\0') {
        home = env;
    } else if (const passwd* user = getpwuid(geteuid()); user && user->pw_dir) {
        home = user->pw_dir;
    }
    if (!home.empty() && home.back() == '/') home.pop_back();
    return home;
}

// $variable when it is an absolute path, otherwise the home folder's fallback.
std::string XdgFolder(const char* variable, const char* fallback) {
    const char* xdg = std::getenv(variable);
    if (xdg && xdg[0] == '/') return xdg;
    const std::string home = HomeFolder();
    return home.empty() ? home : home + fallback;
}

}  // namespace

std::string UserDataHome() {
    return XdgFolder("XDG_DATA_HOME", "/.local/share");
}

std::string UserConfigHome() {
    return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

bool IsWritableDirectory(const std::string& dir) {
    struct stat info {};
    if (dir.empty() || stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    // The effective ids decide what the program may do; a read-only mount refuses even root.
    return faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string ChooseDataDirectory(const std::string& programDir, const std::string& userDir) {
    const bool underUsr = programDir == "/usr" || programDir.starts_with("/usr/");
    if (userDir.empty() || (!underUsr && IsWritableDirectory(programDir))) return programDir;
    return userDir;
}

std::string LoginName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && found->pw_name[0] != '\0') {
        return found->pw_name;
    }
    for (const char* variable : {"LOGNAME", "USER"}) {
        if (const char* name = std::getenv(variable); name && name[0] != '\0') return name;
    }
    return {};
}
