// What kind of file system holds a file. A knowledge base file on a network share is written by
// several computers through a network file system whose locks SQLite cannot rely on, so the
// program warns when it finds its file there. And which file a path names, whatever path leads
// to it (links, hard links, a folder mounted twice).
//
// Thread safety: the functions read only the file system and /proc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// True when path (or, for a file not made yet, the nearest folder above it that exists) lies on
// a network file system: NFS, SMB/CIFS, AFS, Ceph, 9P and the like, or a FUSE mount of one
// (sshfs, rclone, ...). False when it cannot be told.
bool IsNetworkFileSystem(const std::string& path);

// The type of the mount that holds the absolute path, as /proc/self/mountinfo names it
// ("nfs4", "fuse.sshfs", ...), read from that file's text; "" when no mount holds it.
std::string MountTypeOf(std::string_view path, std::string_view mountinfo);

// True for the name of a network file system type, as MountTypeOf gives it.
bool IsNetworkMountType(std::string_view type);

// A file as the system knows it: two paths name the same file exactly when their identities are
// equal.
struct TFileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of the file path names, links followed; none when there is no such file.
std::optional<TFileIdentity> IdentityOf(const std::string& path);
