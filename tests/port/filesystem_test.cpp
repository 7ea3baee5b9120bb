// Which mount holds a path, read from the kernel's mount table, and a folder of the tests' own
// (on the local disk) is not taken for a network share.
#include "port/filesystem.h"

#include <gtest/gtest.h>

#include "tempdir.h"

namespace {

TEST(FileSystem, TheMountThatHoldsAPathIsTheLongestMountPointAboveItMountedLast) {
    const std::string mountinfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "30 22 0:40 / /home rw shared:2 - ext4 /dev/sda2 rw\n"
        "31 30 0:41 / /home/office rw - nfs4 srv:/export rw,vers=4.2\n"
        "32 30 0:42 / /home/office\\040share rw - fuse.sshfs me@srv:/x rw,user_id=0\n"
        "33 22 0:43 / /mnt rw - tmpfs tmpfs rw\n"
        "34 22 0:44 / /mnt rw master:7 unbindable - cifs //srv/kb rw\n"
        "35 22 0:45 / /srv/a rw - 9p share rw\n";
    EXPECT_EQ(MountTypeOf("/home/office/pelloquin.dat", mountinfo), "nfs4");
    EXPECT_EQ(MountTypeOf("/home/office", mountinfo), "nfs4");
    EXPECT_EQ(MountTypeOf("/home/office share/kb/pelloquin.dat", mountinfo), "fuse.sshfs");
    EXPECT_EQ(MountTypeOf("/home/officer/pelloquin.dat", mountinfo), "ext4");
    EXPECT_EQ(MountTypeOf("/mnt/pelloquin.dat", mountinfo), "cifs");
    EXPECT_EQ(MountTypeOf("/srv/ab", mountinfo), "ext4");
    EXPECT_EQ(MountTypeOf("/srv/a/b", mountinfo), "9p");
    EXPECT_EQ(MountTypeOf("/x", ""), "");

    for (const char* type : {"nfs4", "cifs", "fuse.sshfs", "9p", "smb3"})
        EXPECT_TRUE(IsNetworkMountType(type)) << type;
    for (const char* type : {"ext4", "tmpfs", "fuse", "fuse.ntfs-3g", "fuseblk", "overlay"})
        EXPECT_FALSE(IsNetworkMountType(type)) << type;
}

TEST(FileSystem, ALocalFolderAndAFileNotYetMadeInItAreNotOnANetwork) {
    TTempDir dir;
    EXPECT_FALSE(IsNetworkFileSystem(dir.Path()));
    EXPECT_FALSE(IsNetworkFileSystem(dir.File("not/made/yet/pelloquin.dat")));
}

}  // namespace
