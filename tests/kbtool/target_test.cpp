// Where an export or a copy writes: the knowledge base in use and its files, by any path, and
// anything but a regular file are refused by the core function, the tool and the copy alike,
// and left exactly as they were; a cancelled or failed export leaves the file at its target as
// it was, and a whole one takes its place with that file's permissions, through a link too.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/knowledgebase.h"
#include "core/transfer/backup.h"
#include "core/transfer/entryexport.h"
#include "core/transfer/targetfile.h"
#include "kbfixture.h"
#include "kbtool/kbtool.h"
#include "tempdir.h"

namespace {

namespace fs = std::filesystem;

// Every name under a folder with what it is: a link's target, a regular file's bytes, a kind.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const fs::path& path = entry.path();
        const fs::file_status status = fs::symlink_status(path);
        std::string what;
        if (fs::is_symlink(status)) {
            what = "link to " + fs::read_symlink(path).string();
        } else if (fs::is_regular_file(status)) {
            what = "file of " + std::to_string(std::hash<std::string>()(FileBytes(path.string())));
        } else {
            what = "kind " + std::to_string(static_cast<int>(status.type()));
        }
        files[path.lexically_relative(folder).string()] = what;
    }
    return files;
}

int Tool(const std::vector<std::string>& args, std::string* err = nullptr,
         const std::function<bool()>& interrupted = {}) {
    std::ostringstream out, errors;
    const int status = RunKbTool(args, out, errors, interrupted);
    if (err) *err = errors.str();
    return status;
}

bool WriteSome(std::ostream& out) {
    out << "id,created,problem,solution\r\n";
    return static_cast<bool>(out);
}

TEST(WriteTargets, TheKnowledgeBaseItsFilesAndAnythingButARegularFileAreRefusedAndLeftAsTheyWere) {
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat");
    MakeOneEntryKnowledgeBase(kbFile);
    const std::vector<std::string> rows = RowsOf(kbFile);
    fs::create_directory(dir.File("sub"));
    fs::create_symlink(kbFile, dir.File("link.csv"));
    fs::create_symlink(dir.File("link.csv"), dir.File("link-to-link.csv"));
    fs::create_hard_link(kbFile, dir.File("hard.csv"));
    fs::create_directory_symlink(dir.Path(), dir.File("alias"));
    fs::create_symlink(kbFile + "-shm", dir.File("shm-link"));
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
    // A reader on the pipe, so that a write to it would go through rather than wait.
    const int reader = open(dir.File("pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.File("sock");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<std::string> targets = {kbFile,
                                        dir.File("sub/../kb.dat"),
                                        dir.File("link.csv"),
                                        dir.File("link-to-link.csv"),
                                        dir.File("hard.csv"),
                                        dir.File("alias/kb.dat"),
                                        kbFile + "-journal",
                                        kbFile + "-wal",
                                        dir.File("alias/kb.dat-shm"),
                                        dir.File("shm-link"),
                                        dir.File("sub"),
                                        dir.File("pipe"),
                                        socketPath};
    if (geteuid() == 0) {  // a device node of the test's own, with the numbers of /dev/null
        ASSERT_EQ(mknod(dir.File("device").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
        targets.push_back(dir.File("device"));
    }
    const auto before = Snapshot(dir.Path());

    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        EXPECT_THROW(ExportToFile(target, kbFile, WriteSome), ETargetRefused);
        EXPECT_THROW(BackUpNow(kbFile, target), ETargetRefused);
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"export", "--format", "csv", target}, {"backup", target}}) {
            std::vector<std::string> args = {"--file", kbFile};
            args.insert(args.end(), command.begin(), command.end());
            std::string err;
            EXPECT_EQ(Tool(args, &err), kExitUsage);
            EXPECT_NE(err.find(target), std::string::npos) << err;
        }
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
    // A server's export has no file of its own to keep, but the kinds of file stay refused.
    EXPECT_THROW(ExportToFile(dir.File("pipe"), "", WriteSome), ETargetRefused);
    EXPECT_EQ(Snapshot(dir.Path()), before);
    EXPECT_EQ(RowsOf(kbFile), rows);
    close(reader);
    close(socket);
}

TEST(WriteTargets, AFailedOrCancelledWriteLeavesTheTargetAsItWasAndAWholeOneTakesItsPlace) {
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat"), old = dir.File("old.csv");
    MakeOneEntryKnowledgeBase(kbFile);
    std::ofstream(old) << "mine";
    fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(old, dir.File("link.csv"));
    const auto before = Snapshot(dir.Path());
    const std::string big(1 << 20, 'x');

    // Cancelled half-way, or failed; by the core function and by the tool.
    EXPECT_FALSE(ExportToFile(old, kbFile, [&](std::ostream& out) {
        out << big;
        return false;
    }));
    EXPECT_EQ(Snapshot(dir.Path()), before);
    try {
        ExportToFile(dir.File("link.csv"), kbFile, [&](std::ostream& out) -> bool {
            out << big;
            throw Exception("the store was lost");
        });
        ADD_FAILURE() << "no failure";
    } catch (const Exception& e) {  // the box names the file and the reason
        EXPECT_EQ(std::string(e.what()),
                  "Nothing was written to " + dir.File("link.csv") + ": the store was lost");
    }
    EXPECT_EQ(Snapshot(dir.Path()), before);
    EXPECT_EQ(
        Tool({"--file", kbFile, "export", "--format", "csv", old}, nullptr, [] { return true; }),
        kExitFailed);
    EXPECT_EQ(Snapshot(dir.Path()), before);
    // A copy of a file that is no knowledge base is refused before anything is written.
    const std::string foreign = dir.File("foreign.db");
    TSQLiteDatabase(foreign).ExecSQL("create table notes (t text)");
    auto withForeign = before;
    withForeign["foreign.db"] = Snapshot(dir.Path())["foreign.db"];
    EXPECT_THROW(BackUpNow(foreign, old), Exception);
    EXPECT_EQ(Snapshot(dir.Path()), withForeign);

    // Whole: the file the link leads to is replaced, with its permissions; the link stays.
    EXPECT_EQ(Tool({"--file", kbFile, "export", "--format", "csv", dir.File("link.csv")}), kExitOk);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.csv")));
    EXPECT_TRUE(FileBytes(old).starts_with("id,created,problem,solution,forms\r\n"));
    EXPECT_EQ(fs::status(old).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    BackUpNow(kbFile, dir.File("link.csv"));
    EXPECT_EQ(RowsOf(old), RowsOf(kbFile));
    EXPECT_TRUE(fs::is_symlink(dir.File("link.csv")));
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_FALSE(entry.path().string().ends_with(".part")) << entry.path();
}

}  // namespace
