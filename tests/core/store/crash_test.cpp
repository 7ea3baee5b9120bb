// Crash safety of the knowledge base: a process killed with SIGKILL at any moment of a save, a
// delete or the first start leaves a file that passes SQLite's integrity check, in which every
// entry has exactly its four rows with matching vectors, every finished operation has stuck and
// the program can start again. The victim is crash_saver, which runs the program's own save and
// delete path and reports each finished operation.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "core/engine.h"
#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "sqlite/sqlitedb.h"
#include "core/store/sqlitestore.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
    std::string output;   // the saver's reports
    bool killed = false;  // false: it ended on its own
    int status = 0;
};

// Starts the saver on dir, reads its reports for delay, then kills it (unless it ended first).
TRun RunAndKill(const std::string& dir, unsigned seed, std::chrono::microseconds delay,
                long operations = -1) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const std::string seedText = std::to_string(seed);
    const std::string operationsText = std::to_string(operations);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(PELLOQUIN_CRASH_SAVER, PELLOQUIN_CRASH_SAVER, dir.c_str(), seedText.c_str(),
              operationsText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    TRun run;
    const auto deadline = Clock::now() + delay;
    bool open = true;
    // Reading while it runs keeps the pipe from filling, so it is never killed while blocked.
    while (open && Clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(&p, 1, static_cast<int>(left.count())) > 0) {
            char buffer[4096];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                open = false;
            else
                run.output.append(buffer, static_cast<size_t>(n));
        }
    }
    if (open) run.killed = kill(pid, SIGKILL) == 0;
    waitpid(pid, &run.status, 0);
    if (run.killed && !(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGKILL)) {
        run.killed = false;  // it had ended already
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    return run;
}

// What the reports say: entries that must exist and entries that must be gone.
struct TModel {
    std::set<std::string> live;
    std::set<std::string> deleted;
};

void Apply(TModel& model, const std::string& output) {
    std::istringstream lines(output);
    std::string kind, ID;
    while (lines >> kind >> ID) {
        if (kind == "S") {
            model.live.insert(ID);
        } else if (kind == "D") {
            model.live.erase(ID);
            model.deleted.insert(ID);
        } else {
            ADD_FAILURE() << "the saver failed: " << output;
        }
    }
}

// Per entry ID: its (P, S) rows in textdata and in vectors.
std::map<std::string, std::string> RowsPerEntry(TSQLiteDatabase& DB, const std::string& table) {
    std::map<std::string, std::string> rows;
    auto t = DB.GetTable("select ID, texttype from " + table + " order by ID, texttype");
    for (; !t->Eof(); t->Next())
        rows[t->FieldAsString(0)] += t->FieldAsString(1);
    return rows;
}

// Opens the file as the program does and checks it; returns the entry IDs it holds.
std::set<std::string> CheckKnowledgeBase(const std::string& dir) {
    std::set<std::string> ids;
    const std::string file = kb::KnowledgeBaseFile(dir);
    if (!std::filesystem::exists(file)) return ids;
    TSQLiteDatabase DB(file);  // rolls back what a killed writer left in its journal
    EXPECT_EQ(DB.GetTableString("PRAGMA integrity_check"), "ok");
    kb::CreateMissingTables(DB);
    EXPECT_EQ(kb::ReadFontSize(DB), 10);
    EXPECT_EQ(DB.GetTableString("select count(*) from settings"), "1");

    const auto texts = RowsPerEntry(DB, "textdata");
    const auto vectors = RowsPerEntry(DB, "vectors");
    EXPECT_EQ(texts, vectors);
    for (const auto& [ID, types] : texts) {
        EXPECT_EQ(types, "PS") << "entry " << ID;
        ids.insert(ID);
    }
    // Each stored vector is the one of its stored text.
    auto pairs = DB.GetTable(
        "select t.description, v.vectordata from textdata t join vectors v on t.ID=v.ID and "
        "t.texttype=v.texttype");
    for (; !pairs->Eof(); pairs->Next())
        EXPECT_EQ(EncodeCV(pairs->FieldAsString(0))->Text(), pairs->FieldAsString(1));

    // And the program's start goes through to a searchable index.
    TKnowledgeEngine engine(std::make_unique<TSQLiteStore>(file), {});
    EXPECT_TRUE(engine.OpenNow().error.empty());
    EXPECT_EQ(engine.LiveTexts(), 2 * ids.size());
    return ids;
}

// The model after a round, given what the file holds: at most one operation was in flight, and
// it either committed whole or not at all.
void Reconcile(TModel& model, const std::set<std::string>& stored, int round) {
    std::set<std::string> extra, missing;
    for (const auto& ID : stored) {
        EXPECT_FALSE(model.deleted.count(ID))
            << "round " << round << ": deleted " << ID << " came back";
        if (!model.live.count(ID)) extra.insert(ID);
    }
    for (const auto& ID : model.live) {
        if (!stored.count(ID)) missing.insert(ID);
    }
    EXPECT_LE(extra.size() + missing.size(), 1u)
        << "round " << round << ": more than the operation in flight differs";
    for (const auto& ID : extra)
        model.live.insert(ID);  // a save that committed just before the kill
    for (const auto& ID : missing) {
        model.live.erase(ID);  // a delete that committed just before the kill
        model.deleted.insert(ID);
    }
}

TEST(CrashSafety, KillsDuringSavesAndDeletesLeaveWholeEntriesAndLoseNothingFinished) {
    TTempDir dir;
    std::mt19937 random(testing::UnitTest::GetInstance()->random_seed());
    TModel model;
    int kills = 0, hotJournals = 0;
    const auto end = Clock::now() + std::chrono::seconds(8);
    for (int round = 0; round < 40 && Clock::now() < end; ++round) {
        const auto delay =
            std::chrono::microseconds(std::uniform_int_distribution<int>(1000, 150000)(random));
        const TRun run = RunAndKill(dir.Path(), random(), delay);
        ASSERT_TRUE(run.killed) << "the saver ended by itself: " << run.output;
        ++kills;
        const std::string journal = kb::KnowledgeBaseFile(dir.Path()) + "-journal";
        if (std::filesystem::exists(journal) && std::filesystem::file_size(journal) > 0)
            ++hotJournals;
        Apply(model, run.output);
        const auto stored = CheckKnowledgeBase(dir.Path());
        Reconcile(model, stored, round);
        if (testing::Test::HasFailure()) break;
    }
    RecordProperty("kills", kills);
    RecordProperty("kills_inside_a_transaction", hotJournals);
    RecordProperty("entries_left", static_cast<int>(model.live.size()));
    EXPECT_GT(model.live.size() + model.deleted.size(), 0u) << "the saver never got to work";
}

TEST(CrashSafety, AKilledFirstStartLeavesAFileThatStartsCleanly) {
    // How long the saver takes to open a new file and do one save, so that the kills below land
    // all over the first start.
    Clock::duration startup;
    {
        TTempDir dir;
        const auto start = Clock::now();
        const TRun run = RunAndKill(dir.Path(), 1, std::chrono::seconds(20), 1);
        startup = Clock::now() - start;
        ASSERT_FALSE(run.killed);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    std::mt19937 random(testing::UnitTest::GetInstance()->random_seed());
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(startup).count();
    for (int round = 0; round < 12; ++round) {
        TTempDir dir;
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<long>(0, std::max<long>(1, micros))(random));
        const TRun run = RunAndKill(dir.Path(), random(), delay);
        TModel model;
        Apply(model, run.output);
        // The saver goes on after its first save when it is quicker than measured, so a delete
        // may be the operation in flight.
        Reconcile(model, CheckKnowledgeBase(dir.Path()), round);
        if (testing::Test::HasFailure()) break;
    }
}

// Denies one kind of statement on one table, as a failing disk or a kill would stop it.
struct TDenial {
    int action;
    const char* table;
};

int Deny(void* data, int action, const char* table, const char*, const char*, const char*) {
    const auto* denial = static_cast<const TDenial*>(data);
    return action == denial->action && table && std::string(table) == denial->table ? SQLITE_DENY
                                                                                    : SQLITE_OK;
}

TEST(CrashSafety, FirstStartCreatesTheTablesAllOrNothing) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    // A first start stopped between the two create statements used to leave textdata without
    // vectors, and no later start would create vectors again.
    {
        TSQLiteDatabase DB(file);
        TDenial denial{SQLITE_CREATE_TABLE, "vectors"};
        sqlite3_set_authorizer(DB.Handle(), Deny, &denial);
        EXPECT_THROW(kb::CreateMissingTables(DB), ESQLiteException);
        sqlite3_set_authorizer(DB.Handle(), nullptr, nullptr);
        EXPECT_FALSE(DB.TableExists("textdata"));
        EXPECT_FALSE(DB.TableExists("settings"));
    }
    // Stopped between creating settings and its FONTSIZE row: no settings without the row.
    {
        TSQLiteDatabase DB(file);
        TDenial denial{SQLITE_INSERT, "settings"};
        sqlite3_set_authorizer(DB.Handle(), Deny, &denial);
        EXPECT_THROW(kb::CreateMissingTables(DB), ESQLiteException);
        sqlite3_set_authorizer(DB.Handle(), nullptr, nullptr);
        EXPECT_FALSE(DB.TableExists("settings"));
    }
    TSQLiteDatabase DB(file);
    kb::CreateMissingTables(DB);
    EXPECT_TRUE(DB.TableExists("textdata"));
    EXPECT_TRUE(DB.TableExists("vectors"));
    EXPECT_EQ(kb::ReadFontSize(DB), 10);
}

}  // namespace
