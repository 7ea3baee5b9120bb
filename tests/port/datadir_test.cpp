// Where the program keeps its data: the program's folder when it may write there and it is not
// under /usr, the user's data folder otherwise; and how the user's data folder is found.
#include "port/datadir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "tempdir.h"

namespace {

// Sets an environment variable for one scope and puts back what was there.
class TEnvVar {
public:
    TEnvVar(const char* name, const char* value) : fname(name) {
        if (const char* old = std::getenv(name)) fold = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~TEnvVar() { fold ? setenv(fname, fold->c_str(), 1) : unsetenv(fname); }
    TEnvVar(const TEnvVar&) = delete;
    TEnvVar& operator=(const TEnvVar&) = delete;

private:
    const char* fname;
    std::optional<std::string> fold;
};

TEST(DataDirectory, TheProgramsFolderOnlyWhenItMayWriteThereOutsideUsr) {
    TTempDir dir;
    const std::string user = dir.File("user");
    const std::string writable = dir.File("portable");
    const std::string readOnly = dir.File("readonly");
    const std::string file = dir.File("plain-file");
    std::filesystem::create_directory(writable);
    std::filesystem::create_directory(readOnly);
    chmod(readOnly.c_str(), 0555);
    std::ofstream(file) << "x";

    struct TCase {
        std::string programDir;
        bool beside;
    };
    std::vector<TCase> cases = {
        {writable, true},
        {writable + "/", true},
        {dir.File("missing"), false},
        {file, false},
        {"", false},
        // /usr belongs to the package manager: never written to, even where root could.
        {"/usr", false},
        {"/usr/bin", false},
        {"/usr/local/bin", false},
    };
    // Root may write into a folder without write bits; everybody else may not.
    if (geteuid() != 0) cases.push_back({readOnly, false});
    for (const TCase& c : cases) {
        EXPECT_EQ(ChooseDataDirectory(c.programDir, user), c.beside ? c.programDir : user)
            << "program in '" << c.programDir << "'";
    }
    // Without a home folder there is nowhere else: the program's folder stays the choice.
    EXPECT_EQ(ChooseDataDirectory("/usr/bin", ""), "/usr/bin");
    EXPECT_FALSE(IsWritableDirectory(file));
    EXPECT_TRUE(IsWritableDirectory(writable));
}

TEST(DataDirectory, UserDataHomeFollowsXdgDataHomeThenHome) {
    {
        TEnvVar xdg("XDG_DATA_HOME", "/srv/data");
        TEnvVar home("HOME", "/home/someone");
        EXPECT_EQ(UserDataHome(), "/srv/data");
    }
    for (const char* ignored : {"relative/data", "", static_cast<const char*>(nullptr)}) {
        TEnvVar xdg("XDG_DATA_HOME", ignored);
        TEnvVar home("HOME", "/home/someone/");
        EXPECT_EQ(UserDataHome(), "/home/someone/.local/share") << (ignored ? ignored : "unset");
    }
    // Without $HOME the account's home folder is used.
    TEnvVar xdg("XDG_DATA_HOME", nullptr);
    TEnvVar home("HOME", nullptr);
    const std::string found = UserDataHome();
    EXPECT_TRUE(found.empty() || found.ends_with("/.local/share")) << found;
}

TEST(DataDirectory, ExecutableDirectoryHoldsTheRunningProgram) {
    const std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(std::filesystem::exists(dir + "/datadir_test")) << dir;
}

}  // namespace
