// The engine without a window: opening behind the caller, the newest text winning, writes beside
// running searches, other programs' writes on the same file seen at the next search, and the
// room of the first passes made beside reloads. Run under ThreadSanitizer too.
#include "core/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "core/knowledgebase.h"
#include "literalpass.h"
#include "core/store/sqlitestore.h"
#include "tempdir.h"

namespace {

using namespace std::chrono_literals;

// An engine on a file, recording every pass it hands over.
class EngineTest : public testing::Test {
protected:
    std::string File() const { return kb::KnowledgeBaseFile(dir.Path()); }

    void Seed(int entries) {
        TSQLiteDatabase DB(File());
        kb::CreateMissingTables(DB);
        for (int i = 0; i < entries; ++i)
            kb::SaveEntry(DB, "printer jams " + std::to_string(i),
                          "scanner fix " + std::to_string(i));
    }

    TKnowledgeEngine& Make() {
        TKnowledgeEngine::TCallbacks callbacks;
        callbacks.passReady = [this](std::shared_ptr<TSearchPass> pass) {
            std::lock_guard<std::mutex> lock(fmutex);
            // Every pass is whole: each hit in the tree, each with its text.
            if (pass->hits.size() != static_cast<size_t>(pass->tree->Count())) ++broken;
            for (const TcvResults& hit : pass->hits)
                if (hit.ID.empty() || hit.Title.size() < 3) ++broken;
            passes.push_back(std::move(pass));
        };
        callbacks.opened = [this](const TKnowledgeEngine::TOpened& result) {
            std::lock_guard<std::mutex> lock(fmutex);
            opened = result;
            openedBeforePasses = passes.empty();
        };
        engine = std::make_unique<TKnowledgeEngine>(std::make_unique<TSQLiteStore>(File()),
                                                    std::move(callbacks));
        return *engine;
    }

    void WaitIdle() {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!engine->Idle() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(engine->Idle());
    }

    std::vector<THit> Last() {
        std::lock_guard<std::mutex> lock(fmutex);
        return passes.empty() ? std::vector<THit>{} : HitsOf(*passes.back());
    }
    size_t Passes() {
        std::lock_guard<std::mutex> lock(fmutex);
        return passes.size();
    }
    std::vector<THit> Expected(const std::string& text) {
        TSQLiteDatabase DB(File());
        return LiteralPass(*EncodeCV(text), DB);
    }

    TTempDir dir;
    std::mutex fmutex;
    std::vector<std::shared_ptr<TSearchPass>> passes;  // guarded by fmutex
    int broken = 0;                                    // guarded by fmutex
    std::optional<TKnowledgeEngine::TOpened> opened;   // guarded by fmutex
    bool openedBeforePasses = false;                   // guarded by fmutex
    std::unique_ptr<TKnowledgeEngine> engine;
};

TEST_F(EngineTest, OpensBehindTheCallerAndSearchesAskedMeanwhileRunAfter) {
    Seed(30);
    TKnowledgeEngine& e = Make();
    e.StartOpening();
    e.Search("printer jams 7");
    const std::string ID = e.Save("printer jams seven", "ok");  // waits for the opening
    WaitIdle();
    ASSERT_TRUE(opened.has_value());
    EXPECT_TRUE(opened->error.empty());
    EXPECT_EQ(opened->fontsize, 10);
    EXPECT_TRUE(openedBeforePasses);
    EXPECT_EQ(e.LiveTexts(), 62u);
    e.Search("printer jams seven");
    WaitIdle();
    EXPECT_EQ(Last(), Expected("printer jams seven"));
    EXPECT_EQ(Last().front().ID, ID);
}

TEST_F(EngineTest, TheNewestTextWinsAndTheLastPassIsOfTheFinalText) {
    Seed(10);
    TKnowledgeEngine& e = Make();
    e.OpenNow();
    std::mutex gate;
    std::condition_variable released;
    bool open = false, holding = false;
    e.TEST_passRunningHook = [&] {
        std::unique_lock<std::mutex> lock(gate);
        holding = true;
        released.notify_all();
        released.wait(lock, [&] { return open; });
    };
    e.Search("printer");
    {
        std::unique_lock<std::mutex> lock(gate);
        released.wait(lock, [&] { return holding; });
    }
    // While the first pass runs, three more texts: only the newest is searched next.
    e.Search("scanner");
    e.Search("printer 3");
    e.Search("scanner fix 4");
    {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
    }
    released.notify_all();
    WaitIdle();
    EXPECT_EQ(Passes(), 2u);
    EXPECT_EQ(Last(), Expected("scanner fix 4"));
    EXPECT_EQ(broken, 0);
}

TEST_F(EngineTest, WritesBesideSteadyTypingLeaveEveryPassWholeAndTheListExact) {
    Seed(20);
    TKnowledgeEngine& e = Make();
    e.StartOpening();
    std::atomic<bool> typing{true};
    std::thread typist([&] {
        std::string text = "printer";
        for (int i = 0; typing; ++i) {
            text += i % 4 ? " jams" : " scanner";
            if (text.size() > 200) text = "printer";
            e.Search(text);
            std::this_thread::sleep_for(200us);
        }
    });
    std::vector<std::string> ids;
    for (int round = 0; round < 40; ++round) {
        if (round % 4 == 3) {
            e.Delete(ids.back());
            ids.pop_back();
        } else if (round % 4 == 2) {
            e.Replace(ids.front(), "printer jams edited " + std::to_string(round), "scanner");
        } else {
            ids.push_back(e.Save("printer jams again " + std::to_string(round), "x"));
        }
    }
    typing = false;
    typist.join();
    e.Search("printer jams edited");
    WaitIdle();
    EXPECT_EQ(Last(), Expected("printer jams edited"));
    EXPECT_EQ(broken, 0);
}

TEST_F(EngineTest, AnotherProgramsWritesShowAtTheNextSearch) {
    Seed(5);
    TKnowledgeEngine& e = Make();
    e.OpenNow();
    TSQLiteDatabase other(File());
    const std::string ID = kb::SaveEntry(other, "monitor flickers", "replace the cable");
    e.Search("monitor");
    WaitIdle();
    ASSERT_EQ(Last().size(), 1u);
    EXPECT_EQ(Last()[0].ID, ID);

    kb::ReplaceEntry(other, ID, "monitor stays dark", "check the power");
    e.Search("monitor dark");
    WaitIdle();
    EXPECT_EQ(Last(), Expected("monitor dark"));
    EXPECT_EQ(e.ReadEntry(ID).solution, "check the power");

    kb::DeleteEntry(other, ID);
    e.Search("monitor");
    WaitIdle();
    EXPECT_TRUE(Last().empty());
    try {
        e.ReadEntry(ID);
        ADD_FAILURE() << "read a deleted entry";
    } catch (const EEntryDeleted& gone) {
        EXPECT_STREQ(gone.what(), "This entry has been deleted.");
    }
}

TEST_F(EngineTest, AFailedOpeningReportsAndTheFirstWriteLoadsWhatItCan) {
    Seed(3);
    {
        TSQLiteDatabase DB(File());
        DB.ExecSQL("update settings set value='large' where ID='FONTSIZE'");
    }
    TKnowledgeEngine& e = Make();
    const auto result = e.OpenNow();
    EXPECT_EQ(result.error, "'0large' is not a valid integer value");
    EXPECT_FALSE(result.fontsize);
    e.Search("printer");
    WaitIdle();
    EXPECT_EQ(Passes(), 0u);  // nothing loaded, nothing to search
    e.Save("printer on fire", "water");
    e.Search("printer");
    WaitIdle();
    EXPECT_EQ(Last(), Expected("printer"));
}

}  // namespace

// After the opening the worker makes the room of the first passes outside the data lock, while a
// write on another thread may reload the whole index: that room outlives the reload, and the
// passes made meanwhile stay whole and exact.
TEST(SearchIndexRoom, IsMadeBesideReloadsAndSearches) {
    const std::string vector = EncodeCV("printer toner")->Text();
    const std::string head = "printer toner";
    std::vector<std::string> IDs;
    for (int i = 0; i < 3000; ++i)
        IDs.push_back("entry" + std::to_string(i));
    std::vector<TStoredText> texts;
    for (size_t i = 0; i < IDs.size(); ++i)
        texts.push_back(TStoredText{static_cast<int64_t>(i + 1), IDs[i], "P", vector, head, {}});
    TSearchIndex index;
    auto reload = [&] {
        index.Clear();
        index.Add(texts);
    };
    reload();
    std::atomic<bool> made{false};
    std::thread maker([&] {
        index.PrefaultPassRoom(200000, {});
        made = true;
    });
    const auto query = EncodeCV("toner");
    do {
        reload();
        const auto pass = index.Search(*query);
        ASSERT_EQ(pass->tree->Count(), 3000);
        ASSERT_EQ(pass->tree->Items(2999)->data->ID, "entry2999");  // equal scores: the last first
    } while (!made);
    maker.join();
}
