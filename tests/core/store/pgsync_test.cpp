// Several programs on one office server: what one writes, the others search without typing, in
// the order a fresh load gives; ten programs starting and writing at once lose nothing and agree;
// a server that goes away refuses writes, saying so, while searching goes on, and once back every
// program catches up and nothing is lost. Run under ThreadSanitizer too.
#include "core/store/pgstore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "pgtest.h"
#include "tempdir.h"

namespace {

using namespace std::chrono_literals;

class PgSyncTest : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_SERVER();
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    }

    std::unique_ptr<TRecordingEngine> Engine(const std::string& conninfo) {
        return std::make_unique<TRecordingEngine>(std::make_unique<TPgStore>(conninfo));
    }

    // Waits until the engine's latest pass is what a fresh load gives for text.
    static bool Shows(TRecordingEngine& e, const std::string& conninfo, const std::string& text) {
        return WaitUntil([&] { return e.Last() == FreshHits(conninfo, text); });
    }

    // entry ID -> problem text, as the tables hold it; each ID's four rows checked.
    static std::map<std::string, std::string> Entries(TPgConnection& look) {
        std::map<std::string, std::string> entries;
        const TPgResult texts = look.Query(
            "select ID, description from textdata where texttype = 'P' and ID in (select ID from "
            "textdata group by ID having count(*) = 2) and ID in (select ID from vectors group "
            "by ID having count(*) = 2)");
        for (int r = 0; r < texts.Rows(); ++r)
            entries.emplace(texts.Bytes(r, 0), texts.Bytes(r, 1));
        const TPgResult rows =
            look.Query("select (select count(*) from textdata), (select count(*) from vectors)");
        EXPECT_EQ(rows.Int64(0, 0), static_cast<int64_t>(2 * entries.size()));
        EXPECT_EQ(rows.Int64(0, 1), static_cast<int64_t>(2 * entries.size()));
        return entries;
    }

    static bool Unreachable(const std::exception& e) {
        return std::string_view(e.what()).starts_with(kServerUnreachable);
    }

    TTempDir dir;
};

TEST_F(PgSyncTest, ASaveAnEditAndADeleteInOneAreSearchedInTheOtherWithoutTyping) {
    TPgTestDatabase db(*TestServer());
    const auto writer = Engine(db.Conninfo()), watcher = Engine(db.Conninfo());
    ASSERT_EQ((*writer)->OpenNow().error, "");
    ASSERT_EQ((*watcher)->OpenNow().error, "");
    (*writer)->Save("printer jams daily", "clean the rollers");
    (*watcher)->Search("monitor flickers");
    watcher->WaitIdle();
    ASSERT_TRUE(watcher->Last().empty());

    const std::string ID = (*writer)->Save("monitor flickers", "replace the cable");
    ASSERT_TRUE(Shows(*watcher, db.Conninfo(), "monitor flickers"));
    ASSERT_EQ(watcher->Last().size(), 1u);
    EXPECT_EQ(watcher->Last()[0].ID, ID);

    (*writer)->Replace(ID, "monitor stays dark", "check the power");
    ASSERT_TRUE(WaitUntil([&] {
        return !watcher->Last().empty() && watcher->Last()[0].Title == "monitor stays dark...";
    }));
    EXPECT_EQ(watcher->Last(), FreshHits(db.Conninfo(), "monitor flickers"));
    EXPECT_EQ((*watcher)->ReadEntry(ID).solution, "check the power");

    (*writer)->Delete(ID);
    ASSERT_TRUE(WaitUntil([&] { return watcher->Last().empty(); }));
    EXPECT_THROW((*watcher)->ReadEntry(ID), EEntryDeleted);
    EXPECT_EQ((*watcher)->LiveTexts(), 2u);
}

TEST_F(PgSyncTest, TenProgramsStartingAndWritingAtOnceLoseNothingAndAgreeWithAFreshLoad) {
    TPgTestDatabase db(*TestServer());
    constexpr int kPrograms = 10, kWrites = 12;
    std::vector<std::unique_ptr<TRecordingEngine>> engines;
    for (int p = 0; p < kPrograms; ++p)
        engines.push_back(Engine(db.Conninfo()));
    // All open at once on an empty database: the tables are made once.
    for (auto& e : engines)
        (**e).StartOpening();

    std::mutex mutex;
    std::map<std::string, std::string> expected;  // guarded by mutex
    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};
    std::thread typist([&] {
        std::mt19937 rng(99);
        while (writing) {
            (**engines[0]).Search(RandomText(rng, 4));
            std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<std::thread> writers;
    for (int p = 0; p < kPrograms; ++p) {
        writers.emplace_back([&, p] {
            std::mt19937 rng(p);
            std::vector<std::string> mine;
            for (int w = 0; w < kWrites; ++w) {
                // Texts of few words from a small vocabulary, so that many scores tie and the
                // order of equal hits is put to the test.
                const std::string problem = RandomText(rng, 5) + " printer";
                const int kind = std::uniform_int_distribution<int>(0, 5)(rng);
                try {
                    if (kind == 0 && !mine.empty()) {
                        (**engines[p]).Delete(mine.back());
                        std::lock_guard<std::mutex> lock(mutex);
                        expected.erase(mine.back());
                        mine.pop_back();
                    } else if (kind == 1 && !mine.empty()) {
                        (**engines[p]).Replace(mine.front(), problem, RandomText(rng, 5));
                        std::lock_guard<std::mutex> lock(mutex);
                        expected[mine.front()] = problem;
                    } else {
                        mine.push_back((**engines[p]).Save(problem, RandomText(rng, 5)));
                        std::lock_guard<std::mutex> lock(mutex);
                        expected[mine.back()] = problem;
                    }
                } catch (const std::exception& e) {
                    ADD_FAILURE() << e.what();
                    ++failures;
                }
            }
        });
    }
    for (auto& t : writers)
        t.join();
    writing = false;
    typist.join();
    ASSERT_EQ(failures, 0);

    EXPECT_EQ(Entries(db.Look()), expected);
    for (const std::string query : {"printer", "the printer jam", "a"}) {
        for (auto& e : engines) {
            (**e).Search(query);
            ASSERT_TRUE(Shows(*e, db.Conninfo(), query)) << query;
        }
    }
}

TEST_F(PgSyncTest, AServerOutOfReachRefusesWritesSayingSoWhileSearchingGoesOn) {
    TPrivateServer server;
    const auto present = Engine(server.Conninfo());
    ASSERT_EQ((*present)->OpenNow().error, "");
    const std::string ID = (*present)->Save("printer jams", "reboot");
    (*present)->Search("printer");
    present->WaitIdle();
    const std::vector<THit> hits = present->Last();
    ASSERT_EQ(hits.size(), 1u);

    server.Halt();
    auto refused = [&](const std::function<void()>& write) {
        try {
            write();
        } catch (const std::exception& e) {
            return Unreachable(e);
        }
        return false;
    };
    EXPECT_TRUE(refused([&] { (*present)->Save("printer on fire", "water"); }));
    EXPECT_TRUE(refused([&] { (*present)->Replace(ID, "printer fine", ""); }));
    EXPECT_TRUE(refused([&] { (*present)->Delete(ID); }));
    EXPECT_TRUE(refused([&] { (*present)->ReadEntry(ID); }));
    const size_t passes = present->Passes();
    (*present)->Search("printer jams");
    present->WaitIdle();
    EXPECT_EQ(present->Passes(), passes + 1);
    EXPECT_EQ(present->Last(), hits);

    // A program started meanwhile says why it has nothing, and loads once the server is back.
    const auto late = Engine(server.Conninfo());
    const TKnowledgeEngine::TOpened opened = (*late)->OpenNow();
    EXPECT_TRUE(opened.error.starts_with(kServerUnreachable)) << opened.error;
    (*late)->Search("printer");
    late->WaitIdle();

    server.Resume();
    ASSERT_TRUE(WaitUntil([&] {
        try {
            (*present)->Save("printer on fire", "water");
            return true;
        } catch (const std::exception& e) {
            EXPECT_TRUE(Unreachable(e)) << e.what();
            return false;
        }
    }));
    ASSERT_TRUE(Shows(*late, server.Conninfo(), "printer"));
    EXPECT_EQ(late->Last().size(), 2u);
    EXPECT_EQ((*late)->ReadEntry(ID).solution, "reboot");
}

TEST_F(PgSyncTest, AServerRestartedWhileTypingAndSavingLosesNothingAndBothCatchUp) {
    TPrivateServer server;
    const auto first = Engine(server.Conninfo()), second = Engine(server.Conninfo());
    ASSERT_EQ((*first)->OpenNow().error, "");
    ASSERT_EQ((*second)->OpenNow().error, "");

    std::mutex mutex;
    std::map<std::string, std::string> saved;  // guarded by mutex: reported saves
    std::set<std::string> refused;             // guarded by mutex: texts whose save raised
    std::atomic<int> done{0}, wrongErrors{0};
    std::atomic<bool> typing{true};
    auto saver = [&](TRecordingEngine& e, int who, int saves) {
        for (int i = 0; i < saves; ++i) {
            for (int attempt = 0;; ++attempt) {
                const std::string problem = "printer jams " + std::to_string(who) + " " +
                                            std::to_string(i) + " " + std::to_string(attempt);
                try {
                    const std::string ID = e->Save(problem, "saved");
                    std::lock_guard<std::mutex> lock(mutex);
                    saved[ID] = problem;
                    break;
                } catch (const std::exception& error) {
                    if (!Unreachable(error)) ++wrongErrors;
                    std::lock_guard<std::mutex> lock(mutex);
                    refused.insert(problem);
                }
                std::this_thread::sleep_for(20ms);
            }
            ++done;
            std::this_thread::sleep_for(5ms);
        }
    };
    std::thread typist([&] {
        std::string text = "printer";
        while (typing) {
            text = text.size() > 60 ? "printer" : text + " jams";
            (*second)->Search(text);
            std::this_thread::sleep_for(1ms);
        }
    });
    // The second program stops saving before the server goes down, so that it catches up on the
    // first one's later saves only through what it hears, and reads after the break.
    std::thread one(saver, std::ref(*first), 1, 40), two(saver, std::ref(*second), 2, 10);
    ASSERT_TRUE(WaitUntil([&] { return done >= 20; }));
    server.Halt();
    std::this_thread::sleep_for(1s);
    server.Resume();
    one.join();
    two.join();
    typing = false;
    typist.join();
    EXPECT_EQ(wrongErrors, 0);
    EXPECT_FALSE(refused.empty());  // the saves did meet the server down

    // Every reported save is there once; anything else is a save whose answer the server's
    // going down cut off, never a half entry.
    const std::map<std::string, std::string> entries =
        Entries(*TPgConnection::Connect(server.Conninfo(), 30s));
    for (const auto& [ID, problem] : saved)
        EXPECT_EQ(entries.count(ID) ? entries.at(ID) : "(missing)", problem);
    for (const auto& [ID, problem] : entries) {
        if (!saved.count(ID)) {
            EXPECT_TRUE(refused.count(problem)) << problem;
        }
    }

    for (auto* e : {first.get(), second.get()}) {
        (**e).Search("printer jams");
        EXPECT_TRUE(Shows(*e, server.Conninfo(), "printer jams"));
        EXPECT_EQ((**e).LiveTexts(), 2 * entries.size());
    }
}

}  // namespace
