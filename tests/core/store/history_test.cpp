// Nothing lost between two programs on one knowledge base, on the file and on the office server:
// two writers editing one entry in every order of their reads, edits and saves (the second save
// refused with the first's texts, saving over it keeping them in the history), an edit against a
// delete, deleted entries and old versions restored and found at once by the other program; and
// on the file, an earlier version's file opened by this one, and restores killed part-way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "core/knowledgebase.h"
#include "core/store/pgstore.h"
#include "core/store/sqlitestore.h"
#include "kbfixture.h"
#include "pgtest.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"

namespace {

using namespace std::chrono_literals;

enum class TKind { File, Server };

class HistoryTest : public testing::TestWithParam<TKind> {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        if (GetParam() == TKind::Server) {
            REQUIRE_TEST_SERVER();
            server = std::make_unique<TPgTestDatabase>(*TestServer());
        }
    }

    std::unique_ptr<TRecordingEngine> Engine(const std::string& writer) {
        std::unique_ptr<TKnowledgeStore> store;
        if (server)
            store = std::make_unique<TPgStore>(server->Conninfo());
        else
            store = std::make_unique<TSQLiteStore>(kb::KnowledgeBaseFile(dir.Path()));
        auto e = std::make_unique<TRecordingEngine>(std::move(store));
        EXPECT_EQ((*e)->OpenNow().error, "");
        (*e)->SetWriterName(writer);
        return e;
    }

    // Whether a search for text in e comes to list ID first (the file's engine syncs before each
    // pass; the server's once its notification is heard).
    static bool Finds(TRecordingEngine& e, const std::string& text, const std::string& ID) {
        return WaitUntil(
            [&] {
                e->Search(text);
                e.WaitIdle();
                const auto hits = e.Last();
                return !hits.empty() && hits.front().ID == ID;
            },
            20s);
    }

    TTempDir dir;
    std::unique_ptr<TPgTestDatabase> server;
};

struct TTexts {
    std::string problem, solution;
    bool operator==(const TTexts&) const = default;
    bool operator<(const TTexts& o) const {
        return std::tie(problem, solution) < std::tie(o.problem, o.solution);
    }
};

// Each writer: reads the entry (0), edits its copy (1), saves it naming the version read (2).
// Every order of the two writers' three steps, each on an entry of its own.
TEST_P(HistoryTest, TwoWritersInEveryOrderLoseNothingAndTheSecondIsShownTheFirst) {
    const auto alice = Engine("alice"), bob = Engine("bob");
    std::vector<int> order{0, 0, 0, 1, 1, 1};  // whose turn
    int orders = 0;
    do {
        ++orders;
        const std::string tag = "case" + std::to_string(orders);
        const TTexts original{"printer jams " + tag, "clean the rollers"};
        const std::string ID = (*alice)->Save(original.problem, original.solution);
        TKnowledgeEngine* engines[2] = {&**alice, &**bob};
        const std::string names[2] = {"alice", "bob"};
        TEntryTexts read[2];
        TTexts mine[2];
        int step[2] = {0, 0};
        TTexts stored = original;                 // the model
        std::vector<TTexts> replaced;             // what the history must hold
        std::string lastWriter;
        for (int who : order) {
            TKnowledgeEngine& e = *engines[who];
            const int s = step[who]++;
            if (s == 0) {
                read[who] = e.ReadEntry(ID);
                ASSERT_EQ((TTexts{read[who].problem, read[who].solution}), stored);
                ASSERT_EQ(read[who].version, EntryVersion(stored.problem, stored.solution));
            } else if (s == 1) {
                mine[who] = {read[who].problem + " " + names[who] + "word" + tag,
                             read[who].solution + " by " + names[who]};
            } else {
                const bool current =
                    read[who].version == EntryVersion(stored.problem, stored.solution);
                try {
                    e.Replace(ID, mine[who].problem, mine[who].solution, read[who].version);
                    ASSERT_TRUE(current) << tag << ": a save over a newer version went through";
                } catch (const EEditConflict& conflict) {
                    ASSERT_FALSE(current) << tag << ": a save of the current version refused";
                    const TEntryTexts& theirs = conflict.Theirs();
                    ASSERT_EQ((TTexts{theirs.problem, theirs.solution}), stored);
                    EXPECT_EQ(theirs.changedBy, lastWriter);
                    ASSERT_EQ(e.ReadEntry(ID).version, theirs.version) << "the refusal wrote";
                    // Saving over theirs, knowingly.
                    e.Replace(ID, mine[who].problem, mine[who].solution, theirs.version);
                }
                replaced.push_back(stored);
                stored = mine[who];
                lastWriter = names[who];
            }
        }
        // Every version is the current one or in the history, newest first, each by who
        // replaced it.
        for (TKnowledgeEngine* e : engines) {
            const TEntryTexts now = e->ReadEntry(ID);
            EXPECT_EQ((TTexts{now.problem, now.solution}), stored) << tag;
            EXPECT_EQ(now.changedBy, lastWriter);
            EXPECT_EQ(now.savedBy, "alice");
            EXPECT_GT(now.changedAt, 0);
            const auto history = e->History(ID);
            ASSERT_EQ(history.size(), replaced.size()) << tag;
            for (size_t i = 0; i < history.size(); ++i) {
                const TEntryVersion& v = history[history.size() - 1 - i];
                EXPECT_EQ((TTexts{v.entry.problem, v.entry.solution}), replaced[i]) << tag;
                EXPECT_EQ(v.event, 'E');
                EXPECT_EQ(v.entry.ID, ID);
                if (i > 0) {
                    EXPECT_EQ(v.writtenBy, history[history.size() - i].who);
                }
            }
            EXPECT_EQ(history.back().writtenBy, "alice");  // the first version, by its saver
            EXPECT_GT(history.back().writtenAt, 0);
        }
        // The other program lists the final texts at once.
        ASSERT_TRUE(Finds(*bob, stored.problem, ID)) << tag;
        ASSERT_TRUE(Finds(*alice, stored.problem, ID)) << tag;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(orders, 20);
    if (!server) {
        // Who saved is the history's: the entry's rows stay as the save statements write them.
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()), TOpenMode::ReadOnly);
        EXPECT_EQ(DB.GetTableString("select count(*) from textdata where credited is not null"),
                  "0");
    }
}

// The newest entry deleted, the next rows come under its old rowids on the file: a save, an edit
// and a restore after it are each found at once, here and in the other program.
TEST_P(HistoryTest, WritesAfterTheNewestEntryIsDeletedAreFoundAtOnce) {
    const auto alice = Engine("alice"), bob = Engine("bob");
    const std::string first = (*alice)->Save("toner smudges pages", "shake the cartridge");
    std::string newest = (*alice)->Save("fax dials twice", "reset the line");
    for (int round = 0; round < 3; ++round) {
        const std::string tag = " round" + std::to_string(round);
        if (round < 2) (*alice)->Delete(newest);
        if (round == 0) {
            newest = (*alice)->Save("badge reader beeps" + tag, "replace its battery");
            ASSERT_TRUE(Finds(*alice, "badge reader beeps" + tag, newest));
            ASSERT_TRUE(Finds(*bob, "badge reader beeps" + tag, newest));
        } else if (round == 1) {
            (*alice)->Replace(first, "toner smudges pages" + tag, "shake the cartridge");
            ASSERT_TRUE(Finds(*alice, "toner smudges pages" + tag, first));
            ASSERT_TRUE(Finds(*bob, "toner smudges pages" + tag, first));
        } else {
            (*alice)->Delete(first);  // the newest rows since its edit
            (*alice)->Restore(first, 0);
            ASSERT_TRUE(Finds(*alice, "toner smudges pages round1", first));
            ASSERT_TRUE(Finds(*bob, "toner smudges pages round1", first));
        }
    }
}

TEST_P(HistoryTest, AnEditOfADeletedEntryIsRefusedAndRestoresAreFoundByTheOtherProgram) {
    const auto alice = Engine("alice"), bob = Engine("bob");
    const std::string ID = (*alice)->Save("scanner streaks grey", "wipe the glass");
    const TEntryTexts read = (*alice)->ReadEntry(ID);
    (*bob)->Delete(ID);
    EXPECT_THROW((*alice)->Replace(ID, "scanner streaks", "glass", read.version), EEntryDeleted);
    EXPECT_THROW((*alice)->ReadEntry(ID), EEntryDeleted);

    // Listed as deleted, as it was, by who deleted it; restored, it is searchable everywhere.
    const auto deleted = (*alice)->Deleted();
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].entry.ID, ID);
    EXPECT_EQ(deleted[0].event, 'D');
    EXPECT_EQ(deleted[0].who, "bob");
    EXPECT_EQ(deleted[0].entry.problem, "scanner streaks grey");
    EXPECT_EQ(deleted[0].entry.solution, "wipe the glass");
    EXPECT_THROW((*alice)->Restore(ID, deleted[0].seq + 1000), Exception);
    (*alice)->Restore(ID, deleted[0].seq);
    EXPECT_TRUE((*alice)->Deleted().empty());
    ASSERT_TRUE(Finds(*bob, "scanner streaks grey", ID));
    ASSERT_TRUE(Finds(*alice, "scanner streaks grey", ID));
    const TEntryTexts back = (*bob)->ReadEntry(ID);
    EXPECT_EQ(back.version, read.version);
    EXPECT_EQ(back.created, read.created);
    EXPECT_EQ(back.savedBy, "alice");
    EXPECT_EQ(back.changedBy, "alice");
    // An edit of the version read before the delete goes through: it is the one stored again.
    (*bob)->Replace(ID, "scanner streaks blue", "new lamp", read.version);

    // An old version brought back is an edit: the texts it replaces are kept in turn.
    (*alice)->Replace(ID, "scanner makes noise", "oil the rail", (*alice)->ReadEntry(ID).version);
    auto history = (*bob)->History(ID);
    ASSERT_EQ(history.size(), 3u);  // grey (deleted), grey (edited by bob), blue
    EXPECT_EQ(history[0].entry.problem, "scanner streaks blue");
    EXPECT_EQ(history[0].writtenBy, "bob");
    EXPECT_EQ(history[2].event, 'D');
    (*bob)->Restore(ID, history[0].seq);
    ASSERT_TRUE(Finds(*alice, "scanner streaks blue", ID));
    history = (*alice)->History(ID);
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history[0].entry.problem, "scanner makes noise");
    EXPECT_EQ(history[0].who, "bob");
    EXPECT_EQ((*alice)->ReadEntry(ID).problem, "scanner streaks blue");
    const THistorySize size = (*alice)->HistorySize();
    EXPECT_EQ(size.versions, 4u);
    EXPECT_EQ(size.deleted, 0u);
    EXPECT_GT(size.bytes, 40u);

    // Pruning takes every version, the delete too, and leaves the entry as it is.
    (*bob)->Delete((*bob)->Save("toner low", "order more"));
    EXPECT_EQ((*bob)->HistorySize().deleted, 1u);
    EXPECT_EQ((*alice)->PruneHistory(std::time(nullptr) + 10), 5u);
    EXPECT_TRUE((*alice)->History(ID).empty());
    EXPECT_TRUE((*alice)->Deleted().empty());
    EXPECT_EQ((*alice)->ReadEntry(ID).changedBy, "bob");  // still known
    EXPECT_THROW((*alice)->Restore(ID), Exception);
    ASSERT_TRUE(Finds(*bob, "scanner streaks blue", ID));
}

INSTANTIATE_TEST_SUITE_P(OnBoth, HistoryTest, testing::Values(TKind::File, TKind::Server),
                         [](const auto& info) {
                             return info.param == TKind::File ? "File" : "Server";
                         });

// --- The file alone ----------------------------------------------------------------------------

// A file as an earlier version made it: the three original tables and nothing else.
void MakeEarlierFile(const std::string& file) {
    TSQLiteDatabase DB(file);
    DB.ExecSQL(kb::kCreateTextdata);
    DB.ExecSQL(kb::kCreateVectors);
    DB.ExecSQL(kb::kCreateSettings);
    DB.ExecSQL(kb::kInsertFontSize);
    std::mt19937 rng(7);
    AddScriptEntries(DB, rng, 60);
}

std::vector<std::string> SettingsOf(const std::string& file) {
    TSQLiteDatabase DB(file, TOpenMode::ReadOnly);
    std::vector<std::string> rows;
    for (auto t = DB.GetTable("select quote(ID)||quote(value) from settings"); !t->Eof(); t->Next())
        rows.push_back(t->FieldAsString(0));
    return rows;
}

bool HasHistory(const std::string& file) {
    TSQLiteDatabase DB(file, TOpenMode::ReadOnly);
    return DB.TableExists("history");
}

TEST(HistoryFile, AnEarlierVersionsFileKeepsEveryRowAndGainsTheHistoryOnlyWhenWritten) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    MakeEarlierFile(file);
    const auto rows = RowsOf(file);
    const auto settings = SettingsOf(file);
    const std::string bytes = FileBytes(file);
    {
        // As the tool's reading commands open it.
        TSQLiteStore e(file, TOpenMode::ReadOnly);
        e.Open();
        EXPECT_TRUE(e.Deleted().empty());
        EXPECT_EQ(e.HistorySize().versions, 0u);
        TSQLiteDatabase DB(file, TOpenMode::ReadOnly);
        const std::string ID = DB.GetTableString("select ID from textdata limit 1");
        EXPECT_TRUE(e.History(ID).empty());
        EXPECT_EQ(e.ReadEntry(ID).changedAt, 0);
    }
    EXPECT_EQ(FileBytes(file), bytes) << "a reading changed the file";
    EXPECT_FALSE(HasHistory(file));
    {
        TKnowledgeEngine e(std::make_unique<TSQLiteStore>(file), {});
        ASSERT_EQ(e.OpenNow().error, "");
    }
    EXPECT_TRUE(HasHistory(file));
    EXPECT_EQ(RowsOf(file), rows);
    EXPECT_EQ(SettingsOf(file), settings);
}

// A restore killed at any moment leaves the entry whole or absent, with the history saying which.
TEST(HistoryFile, AKilledRestoreLeavesNoHalfEntry) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    // Texts of some megabytes, so that a restore's transaction spans many pages.
    std::string problem = "plotter", solution = "reset";
    for (int i = 0; i < 30000; ++i) {
        problem += " plotter" + std::to_string(i % 977);
        solution += " step" + std::to_string(i % 1013);
    }
    std::string ID;
    {
        TSQLiteStore store(file);
        store.Open();
        ID = store.SaveEntry(problem, solution, nullptr);
        store.DeleteEntry(ID, nullptr);
    }
    std::mt19937 random(testing::UnitTest::GetInstance()->random_seed());
    int killed = 0;
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            // Restores and deletes again until killed.
            try {
                TSQLiteStore store(file);
                store.Open();
                for (;;) {
                    if (store.Deleted().empty())
                        store.DeleteEntry(ID, nullptr);
                    else
                        store.Restore(ID, 0, nullptr);
                }
            } catch (...) {
                _exit(1);
            }
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 400)(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the restorer ended by itself";
        ++killed;

        TSQLiteDatabase DB(file);  // rolls back the killed transaction
        ASSERT_EQ(DB.GetTableString("PRAGMA integrity_check"), "ok");
        const std::string texts = DB.GetTableString(
            "select group_concat(texttype,'') from (select texttype from textdata order by 1)");
        const std::string vectors = DB.GetTableString(
            "select group_concat(texttype,'') from (select texttype from vectors order by 1)");
        const std::string newest =
            DB.GetTableString("select event from history order by seq desc limit 1");
        if (texts.empty()) {
            EXPECT_EQ(vectors, "");
            EXPECT_EQ(newest, "D");
        } else {
            ASSERT_EQ(texts, "PS");
            ASSERT_EQ(vectors, "PS");
            EXPECT_EQ(newest, "R");
            EXPECT_EQ(kb::ReadDescription(DB, ID, kb::kProblem), problem);
            EXPECT_EQ(kb::ReadDescription(DB, ID, kb::kSolution), solution);
            EXPECT_EQ(DB.GetTableString("select vectordata from vectors where texttype='P'"),
                      EncodeCV(problem)->Text());
        }
        // Kept once per delete, whole.
        EXPECT_EQ(DB.GetTableString("select count(*) from history where event='D' and "
                                    "(problem<>" + std::string("(select problem from history "
                                    "order by seq limit 1))")),
                  "0");
    }
    EXPECT_EQ(killed, 12);
}

}  // namespace
