// Best match as the stores keep it: an index changed by this program's writes, by another
// program's writes taken in through Sync, and by a change of ranking ranks exactly as an index
// loaded afresh from the same file does.
#include "core/bestsearch.h"

#include <gtest/gtest.h>

#include <random>

#include "core/engine.h"
#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "tempdir.h"

namespace {

// Words of several languages and forms, so that pairing, accents and stems are all exercised.
const char* const kWords[] = {
    "printer", "printers", "printing", "jams",   "paper",  "scanner", "network", "the",
    "café",    "cafe",     "réseau",   "Zähler", "zahler", "принтер", "принтеры", "打印机",
    "reboot",  "driver",   "drivers",  "email",  "outlook", "monitor", "flickers", "a"};

std::string RandomText(std::mt19937& random) {
    std::uniform_int_distribution<size_t> word(0, std::size(kWords) - 1);
    std::string text;
    const int words = std::uniform_int_distribution<int>(0, 9)(random);
    for (int i = 0; i < words; ++i) {
        if (i > 0) text += i == 3 ? "\n" : " ";
        text += kWords[word(random)];
    }
    return StoredFromUtf8(text);
}

// A pass as the list shows it: ID, text type, score, title, excerpt and bold ranges, best first.
std::vector<std::string> Rows(const TSearchPass& pass) {
    std::vector<std::string> rows;
    for (int p = pass.tree->Count() - 1; p >= 0; --p) {
        const TcvResults& hit = *pass.tree->Items(p)->data;
        std::string row = std::string(hit.ID) + '|' + std::string(pass.TextTypeOf(hit)) + '|' +
                          std::to_string(hit.Proximity) + '|' + std::string(hit.Title) + '|' +
                          std::string(hit.excerpt);
        const size_t i = static_cast<size_t>(&hit - pass.hits.data());
        for (const TBoldRange& b : pass.bold.at(i))
            row += '|' + std::to_string(b.begin) + '-' + std::to_string(b.end);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> FreshRows(const std::string& file, const std::string& query) {
    TSQLiteStore store(file, TOpenMode::ReadOnly);
    store.Open();
    TSearchIndex index(TRanking::BestMatch);
    store.LoadAll(index);
    index.Settle();
    return Rows(*index.SearchBest(query, true));
}

TEST(BestSearch, WritesHereAndElsewhereRankAsAFreshLoadDoes) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    TSQLiteStore here(file), elsewhere(file);
    here.Open();
    elsewhere.Open();
    TSearchIndex index(TRanking::BestMatch);
    here.LoadAll(index);
    index.Settle();

    std::mt19937 random(20261209);
    std::vector<std::string> IDs;
    int listed = 0;  // passes that listed something: the comparison is not of two empty lists
    for (int step = 0; step < 300; ++step) {
        const int op = std::uniform_int_distribution<int>(0, 9)(random);
        const bool other = op >= 7;  // another program's write, taken in by the next sync
        TKnowledgeStore& store = other ? elsewhere : here;
        TSearchIndex* const own = other ? nullptr : &index;
        const size_t pick = IDs.empty() ? 0 : random() % IDs.size();
        if (IDs.empty() || op % 7 < 3) {
            IDs.push_back(store.SaveEntry(RandomText(random), RandomText(random), own));
        } else if (op % 7 < 5) {
            store.ReplaceEntry(IDs[pick], RandomText(random), RandomText(random), {}, own);
        } else {
            store.DeleteEntry(IDs[pick], own);
            IDs.erase(IDs.begin() + static_cast<ptrdiff_t>(pick));
        }
        here.Sync(index);
        index.Settle();
        const std::string query = RandomText(random);
        const std::vector<std::string> rows = Rows(*index.SearchBest(query, true));
        ASSERT_EQ(rows, FreshRows(file, query)) << "step " << step << ", query " << query;
        listed += rows.empty() ? 0 : 1;
    }
    EXPECT_GT(listed, 200);
    EXPECT_EQ(index.LiveCount(), 2 * IDs.size());
}

// The engine's passes follow the ranking asked for, and a change of ranking searches the last
// text again in the new one.
TEST(BestSearch, TheEngineRebuildsItsIndexWhenTheRankingChanges) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    {
        TSQLiteDatabase DB(file);
        kb::CreateMissingTables(DB);
        kb::SaveEntry(DB, "printer jams", "clean the printer's rollers");
        kb::SaveEntry(DB, "monitor flickers", "replace the cable");
    }
    std::mutex mutex;
    std::vector<std::shared_ptr<TSearchPass>> passes;
    TKnowledgeEngine::TCallbacks callbacks;
    callbacks.passReady = [&](std::shared_ptr<TSearchPass> pass) {
        std::lock_guard lock(mutex);
        passes.push_back(std::move(pass));
    };
    TKnowledgeEngine engine(std::make_unique<TSQLiteStore>(file), std::move(callbacks),
                            TRanking::Classic);
    ASSERT_EQ(engine.OpenNow().error, "");
    auto waitFor = [&](size_t count) {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard lock(mutex);
                if (passes.size() >= count && engine.Idle()) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "no pass";
    };
    engine.Search("printe", true);
    waitFor(1);
    // Classic knows no word being typed: "printe" is not "printer".
    EXPECT_EQ(passes[0]->tree->Count(), 0);
    engine.SetRanking(TRanking::BestMatch);
    waitFor(2);
    ASSERT_EQ(passes[1]->tree->Count(), 1);
    EXPECT_EQ(passes[1]->hits[0].Title, "printer jams");
    EXPECT_EQ(passes[1]->bold.at(0).size(), 1u);
    engine.Save("printer on fire", "water");
    engine.Search("printer", false);
    waitFor(3);
    EXPECT_EQ(passes[2]->tree->Count(), 2);
}

}  // namespace
