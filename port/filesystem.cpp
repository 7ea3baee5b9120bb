// The kernel's statfs says which file system driver holds a file. Network drivers have magic
// numbers of their own; FUSE mounts all share one, so for them the mount table says which
// program serves the mount (sshfs, rclone, ...).
#include "port/filesystem.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

constexpr uint32_t kFuseMagic = 0x65735546;

// Magic numbers of network file systems (linux/magic.h and the drivers' own).
constexpr std::array<uint32_t, 11> kNetworkMagics = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x5346414F,  // AFS (OpenAFS)
    0x6B414653,  // AFS (kernel)
    0x564C,      // NCP
    0x73757245,  // Coda
    0x01021997,  // 9P
    0x00C36400,  // Ceph
    0x0BD00BD0,  // Lustre
};

// The text of a mountinfo field with its octal escapes (\040 for a blank, ...) undone.
std::string Unescape(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                         (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// Whether mount point holds path: equal, or path goes on below it.
bool Holds(std::string_view mountPoint, std::string_view path) {
    if (!path.starts_with(mountPoint)) return false;
    return mountPoint == "/" || path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

// The path itself, or the nearest folder above it that exists, with links resolved.
std::string ExistingPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path p = std::filesystem::absolute(path, error);
    if (error) return {};
    while (!p.empty()) {
        const std::filesystem::path real = std::filesystem::canonical(p, error);
        if (!error) return real.string();
        if (p == p.parent_path()) break;
        p = p.parent_path();
    }
    return {};
}

}  // namespace

std::string MountTypeOf(std::string_view path, std::string_view mountinfo) {
    // Each line: id parent major:minor root mountpoint options [optional...] - type source ...
    // The last mount over a path is the one in effect, and the longest mount point wins.
    std::string type;
    size_t bestLength = 0;
    bool found = false;
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string field, mountPoint;
        for (int i = 0; i < 5 && fields >> field; ++i)
            if (i == 4) mountPoint = Unescape(field);
        while (fields >> field && field != "-") {
        }
        std::string mountType;
        if (field != "-" || !(fields >> mountType) || mountPoint.empty()) continue;
        if (Holds(mountPoint, path) && (!found || mountPoint.size() >= bestLength)) {
            found = true;
            bestLength = mountPoint.size();
            type = Unescape(mountType);
        }
    }
    return type;
}

bool IsNetworkMountType(std::string_view type) {
    static constexpr std::array<std::string_view, 12> kKernel = {
        "nfs", "nfs4", "cifs", "smb3",   "smbfs", "ncpfs",
        "afs", "9p",   "ceph", "lustre", "coda",  "glusterfs"};
    static constexpr std::array<std::string_view, 10> kFuse = {
        "sshfs",  "rclone",    "s3fs",   "gcsfuse",  "glusterfs",
        "davfs2", "curlftpfs", "cephfs", "smbnetfs", "afpfs"};
    for (std::string_view name : kKernel)
        if (type == name) return true;
    if (type.starts_with("fuse.")) {
        const std::string_view program = type.substr(5);
        for (std::string_view name : kFuse)
            if (program == name) return true;
    }
    return type == "davfs";
}

bool IsNetworkFileSystem(const std::string& path) {
    const std::string existing = ExistingPath(path);
    if (existing.empty()) return false;
    struct statfs info {};
    if (statfs(existing.c_str(), &info) != 0) return false;
    const auto magic = static_cast<uint32_t>(info.f_type);
    for (uint32_t network : kNetworkMagics)
        if (magic == network) return true;
    if (magic != kFuseMagic) return false;
    std::ifstream file("/proc/self/mountinfo");
    std::stringstream text;
    text << file.rdbuf();
    return IsNetworkMountType(MountTypeOf(existing, text.str()));
}

std::optional<TFileIdentity> IdentityOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    return TFileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}
