// pelloquin-kb on an office server: search, export, import and stats say over the server what they
// say over a file of the same entries; without an option the tool takes the program's choice, the
// environment's first; a server that cannot be reached or holds no knowledge base, the commands
// that are about a file, and a file and a server given together give status 2 and leave the
// server as it was.
#include "kbtool/kbtool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "kbfixture.h"
#include "core/knowledgebase.h"
#include "core/store/pgstore.h"
#include "pgtest.h"
#include "core/store/storechoice.h"
#include "tempdir.h"

namespace {

struct TRun {
    int status;
    std::string out, err;
    bool operator==(const TRun&) const = default;
};

void PrintTo(const TRun& run, std::ostream* os) {
    *os << "status " << run.status << ", out:\n" << run.out << "err:\n" << run.err;
}

TRun Tool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunKbTool(args, out, err);
    return {status, out.str(), err.str()};
}

class KbToolServer : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_SERVER();
        // The user's settings are the test's own; no choice comes from outside.
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        unsetenv(std::string(kDatabaseVariable).c_str());
        db = std::make_unique<TPgTestDatabase>(*TestServer());
    }
    void TearDown() override { unsetenv(std::string(kDatabaseVariable).c_str()); }

    // A knowledge base file of entries in many scripts, and the server holding the same,
    // imported by the tool into the tables the program makes.
    void MakeBoth(int entries) {
        std::mt19937 rng(41);
        MakeKnowledgeBase(file);
        {
            TSQLiteDatabase DB(file);
            DB.ExecSQL("PRAGMA synchronous=OFF");  // a test file: no disk syncs
            for (int e = 0; e < entries; ++e)
                kb::SaveEntry(DB, RandomText(rng, e % 4 ? 8 : 60), RandomText(rng, 12));
            AddScriptEntries(DB, rng, entries / 2);
        }
        TPgStore(db->Conninfo()).Open();
        const TRun import = Tool({"--server", db->Conninfo(), "import", file});
        ASSERT_EQ(import.status, 0) << import.err;
        ASSERT_EQ(import.out, "imported: " + std::to_string(entries + entries / 2) +
                                  "\nskipped, already stored: 0\nfailed: 0\n");
    }

    TTempDir dir;
    std::unique_ptr<TPgTestDatabase> db;
    const std::string file = dir.File("pelloquin.dat");
};

TEST_F(KbToolServer, SearchExportImportAndStatsSayWhatTheySayOverAFileOfTheSameEntries) {
    MakeBoth(300);
    const std::vector<std::string> onFile = {"--file", file};
    const std::vector<std::string> onServer = {"--server", db->Conninfo()};
    auto both = [&](const std::vector<std::string>& command) {
        std::vector<std::string> a = onFile, b = onServer;
        a.insert(a.end(), command.begin(), command.end());
        b.insert(b.end(), command.begin(), command.end());
        return std::pair{Tool(a), Tool(b)};
    };
    auto same = [&](const std::vector<std::string>& command) {
        SCOPED_TRACE(testing::PrintToString(command));
        const auto [here, there] = both(command);
        EXPECT_EQ(here.status, 0) << here.err;
        EXPECT_EQ(there, here);
        return here;
    };

    std::mt19937 rng(43);
    const std::vector<std::string> queries = {"printer jam paper tray", "Принтер", "the",
                                              ScriptText(rng, 5), RandomText(rng, 6)};
    size_t hits = 0;
    for (const std::string& query : queries)
        hits += std::ranges::count(same({"search", query}).out, '\n');
    EXPECT_GT(hits, 100u);  // the queries do find things
    for (const char* format : {"csv", "json", "md"})
        EXPECT_FALSE(same({"export", "--format", format}).out.empty());

    // An export to a file, with the option's other spelling.
    const std::string csv = dir.File("entries.csv");
    ASSERT_EQ(Tool({"--server=" + db->Conninfo(), "export", "--format=csv", csv}).status, 0);
    EXPECT_EQ(FileBytes(csv), same({"export", "--format", "csv"}).out);

    // stats: the same counts; a server has no file size.
    const auto [fileStats, serverStats] = both({"stats"});
    ASSERT_EQ(fileStats.status, 0) << fileStats.err;
    EXPECT_EQ(serverStats.status, 0) << serverStats.err;
    EXPECT_EQ(serverStats.out, fileStats.out.substr(0, fileStats.out.find("file size: ")));

    // Entries new to both, entries both hold already, and a row that fails: the same summary,
    // the same failure, and afterwards the same entries and hits.
    const std::string more = dir.File("more.dat"), moreCsv = dir.File("more.csv");
    MakeKnowledgeBase(more);
    {
        TSQLiteDatabase DB(more);
        AddScriptEntries(DB, rng, 80);
    }
    ASSERT_EQ(Tool({"--file", more, "export", "--format", "csv", moreCsv}).status, 0);
    const std::string stored = same({"export", "--format", "csv"}).out;
    std::ofstream(moreCsv, std::ios::app | std::ios::binary)
        << ",,no ID,none\r\n"
        << stored.substr(stored.find('\n') + 1);  // entries of both, below the header
    const auto [fileImport, serverImport] = both({"import", moreCsv});
    EXPECT_EQ(fileImport.status, 1);
    EXPECT_EQ(serverImport, fileImport);
    EXPECT_TRUE(fileImport.out.starts_with("imported: 80\n")) << fileImport.out;
    same({"import", more});  // all of them stored by now: skipped
    same({"export", "--format", "json"});
    for (const std::string& query : queries)
        same({"search", query});
}

TEST_F(KbToolServer, WithoutAnOptionTheToolTakesTheProgramsChoiceTheEnvironmentsFirst) {
    MakeBoth(60);
    const TRun onServer = Tool({"--server", db->Conninfo(), "stats"});
    const TRun onFile = Tool({"--file", file, "stats"});
    ASSERT_EQ(onServer.status, 0) << onServer.err;
    ASSERT_EQ(onFile.status, 0) << onFile.err;
    ASSERT_NE(onServer, onFile);

    // The choice the program keeps, and the environment's over it.
    SaveChoice(ServerChoice(db->Conninfo()));
    EXPECT_EQ(Tool({"stats"}), onServer);
    setenv(std::string(kDatabaseVariable).c_str(), file.c_str(), 1);
    EXPECT_EQ(Tool({"stats"}), onFile);
    SaveChoice(FileChoice(file));
    setenv(std::string(kDatabaseVariable).c_str(), db->Conninfo().c_str(), 1);
    EXPECT_EQ(Tool({"stats"}), onServer);
    EXPECT_EQ(Tool({"search", "printer"}), Tool({"--server", db->Conninfo(), "search", "printer"}));
    // An option beats both.
    EXPECT_EQ(Tool({"--file", file, "stats"}), onFile);
}

TEST_F(KbToolServer, WhatCannotRunOnTheServerGivesStatusTwoAndLeavesItAsItWas) {
    MakeBoth(20);
    const std::string conninfo = db->Conninfo(), out = dir.File("out");
    TPgTestDatabase empty(*TestServer());
    TTempDir noServer;  // a folder where no server listens
    const std::string unreachable =
        "host=" + noServer.Path() + " user=postgres password=secret dbname=kb";
    const std::string csv = dir.File("entries.csv");
    ASSERT_EQ(Tool({"--file", file, "export", "--format", "csv", csv}).status, 0);
    const std::string exported = Tool({"--server", conninfo, "export", "--format", "json"}).out;

    std::vector<std::vector<std::string>> runs = {
        {"--file", file, "--server", conninfo, "stats"},
        {"--server", conninfo, "--file", file, "stats"},
        {"--server=" + conninfo, "--server", conninfo, "stats"},
        {"--server", "stats"},
        {"--server="},
        {"--server", "host=kb port=5432 nonsense=1", "stats"},
        {"--server", conninfo, "backup", out},
        {"--server", conninfo, "check"},
    };
    for (const std::string& server : {empty.Conninfo(), unreachable}) {
        for (std::vector<std::string> command : {std::vector<std::string>{"search", "printer"},
                                                 {"export", "--format", "json", out},
                                                 {"import", csv},
                                                 {"stats"}}) {
            command.insert(command.begin(), {"--server", server});
            runs.push_back(command);
        }
    }
    for (const auto& args : runs) {
        SCOPED_TRACE(testing::PrintToString(args));
        const TRun run = Tool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with("pelloquin-kb: ")) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // Through the environment as well, saying what went wrong, and never the password.
    setenv(std::string(kDatabaseVariable).c_str(), unreachable.c_str(), 1);
    const TRun lost = Tool({"search", "printer"});
    EXPECT_EQ(lost.status, 2);
    EXPECT_TRUE(lost.err.starts_with("pelloquin-kb: cannot connect to the office server "))
        << lost.err;
    EXPECT_NE(lost.err.find(noServer.Path()), std::string::npos) << lost.err;
    EXPECT_EQ(lost.err.find("secret"), std::string::npos) << lost.err;
    setenv(std::string(kDatabaseVariable).c_str(), empty.Conninfo().c_str(), 1);
    EXPECT_EQ(Tool({"import", csv}).status, 2);

    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(empty.Look()
                     .Query("select to_regclass('textdata') is not null or "
                            "to_regclass('vectors') is not null or "
                            "to_regclass('changelog') is not null")
                     .Bool(0, 0));
    EXPECT_EQ(Tool({"--server", conninfo, "export", "--format", "json"}).out, exported);
}

}  // namespace
