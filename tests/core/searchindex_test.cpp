// The search over the stored texts gives exactly the hits of scoring every loaded row in turn, as
// a straightforward pass does (literalpass.h), after a full load and after every kind of change
// the file store takes in: its own saves, edits and deletes, and those of another program.
#include "core/searchindex.h"
#include "core/storedtext.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/knowledgebase.h"
#include "literalpass.h"
#include "core/store/sqlitestore.h"
#include "tempdir.h"
#include "textsearch/similarity.h"

namespace {

std::vector<THit> IndexedPass(const TcvVector& query, const TSearchIndex& index) {
    auto pass = index.Search(query);
    EXPECT_EQ(pass->hits.size(), static_cast<size_t>(pass->tree->Count()));
    return HitsOf(*pass);
}

// A store on a file in dir, opened, with its index loaded.
struct TLoaded {
    explicit TLoaded(const TTempDir& dir) : store(kb::KnowledgeBaseFile(dir.Path())) {
        store.Open();
        store.LoadAll(index);
    }
    TSQLiteDatabase& DB() { return *store.Database(); }
    TSQLiteStore store;
    TSearchIndex index;
};

TEST(SearchIndex, GivesTheHitsOfTheRowByRowPassOnRandomKnowledgeBases) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 40; ++round) {
        TTempDir dir;
        {
            TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
            kb::CreateMissingTables(DB);
            FillRandomly(DB, rng, std::uniform_int_distribution<int>(0, 40)(rng));
        }
        TLoaded kb(dir);
        // Some rounds start with the room of two passes made ahead, as the program makes it.
        if (round % 2) kb.index.PrefaultPassRoom(kb.index.LiveCount(), {});
        // Passes are held a while, as a window holds the one it shows, and let go in turn: a
        // later pass fills the room of one let go, never of one still held.
        std::vector<std::pair<std::unique_ptr<TSearchPass>, std::vector<THit>>> held;
        for (int q = 0; q < 15; ++q) {
            const auto query = EncodeCV(RandomText(rng, q < 3 ? 1 : 7));
            const std::vector<THit> expected = LiteralPass(*query, kb.DB());
            ASSERT_EQ(IndexedPass(*query, kb.index), expected)
                << "round " << round << " query " << query->Text();
            held.emplace_back(kb.index.Search(*query), expected);
            if (held.size() > 1 + rng() % 3) held.erase(held.begin());
            for (const auto& [pass, hits] : held)
                ASSERT_EQ(HitsOf(*pass), hits) << "round " << round << " a held pass changed";
        }
    }
}

// Passes of tens of thousands of hits fill and order them on two threads; vectors without their
// texts among them shift every later hit's place.
TEST(SearchIndex, LargePassesGiveTheHitsOfTheRowByRowPass) {
    std::mt19937 rng(16384);
    TTempDir dir;
    {
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        DB.ExecSQL("PRAGMA synchronous=OFF");  // thousands of saves; the disk adds nothing here
        kb::CreateMissingTables(DB);
        FillRandomly(DB, rng, 12000);
    }
    TLoaded kb(dir);
    size_t largest = 0;
    for (const char* text :
         {"printer jam paper tray network error the a driver reboot toner x win98", "the",
          "toner x"}) {
        const auto query = EncodeCV(text);
        const std::vector<THit> hits = IndexedPass(*query, kb.index);
        ASSERT_EQ(hits, LiteralPass(*query, kb.DB())) << text;
        largest = std::max(largest, hits.size());
    }
    EXPECT_GT(largest, 16384u);  // the two-thread path ran
}

// Writes of this store and of another program on the same file, in random order; after each, the
// index (kept up to date by the store, not reloaded) searches exactly as a fresh load would.
TEST(SearchIndex, StaysExactAcrossOwnAndOtherProgramsWrites) {
    std::mt19937 rng(7);
    TTempDir dir;
    TLoaded kb(dir);
    FillRandomly(kb.DB(), rng, 20);
    kb.store.LoadAll(kb.index);
    TSQLiteDatabase other(kb::KnowledgeBaseFile(dir.Path()));
    std::vector<std::string> ids;
    auto pick = [&] { return ids[std::uniform_int_distribution<size_t>(0, ids.size() - 1)(rng)]; };
    for (int step = 0; step < 60; ++step) {
        const int what = std::uniform_int_distribution<int>(0, 5)(rng);
        const bool mine = std::uniform_int_distribution<int>(0, 1)(rng) == 0;
        SCOPED_TRACE("step " + std::to_string(step) + " kind " + std::to_string(what) +
                     (mine ? " here" : " elsewhere"));
        if (what == 0 && !ids.empty()) {
            const std::string ID = pick();
            mine ? kb.store.DeleteEntry(ID, &kb.index) : kb::DeleteEntry(other, ID);
            ids.erase(std::find(ids.begin(), ids.end(), ID));
        } else if (what == 1 && !ids.empty()) {
            const std::string ID = pick(), p = RandomText(rng, 10), s = RandomText(rng, 10);
            mine ? kb.store.ReplaceEntry(ID, p, s, {}, &kb.index) : kb::ReplaceEntry(other, ID, p, s);
        } else if (what == 2 && !ids.empty() && !mine) {
            // Deleting the newest entry and saving again reuses its rowids: a full load.
            other.ExecSQL("delete from vectors where rowid>=(select max(rowid)-1 from vectors)");
            ids.push_back(kb::SaveEntry(other, RandomText(rng, 10), RandomText(rng, 10)));
        } else {
            const std::string p = RandomText(rng, 10), s = RandomText(rng, 10);
            ids.push_back(mine ? kb.store.SaveEntry(p, s, &kb.index) : kb::SaveEntry(other, p, s));
        }
        kb.store.Sync(kb.index);
        const auto query = EncodeCV(RandomText(rng, 5));
        ASSERT_EQ(IndexedPass(*query, kb.index), LiteralPass(*query, kb.DB()));
        EXPECT_EQ(kb.index.LiveCount(), static_cast<size_t>(kb::LoadVectors(kb.DB())->Count()));
    }
    EXPECT_FALSE(kb.store.Sync(kb.index));  // nothing new: nothing to do
}

TEST(SearchIndex, TitlesExcerptsAndTheThreshold) {
    TTempDir dir;
    TLoaded kb(dir);
    TSQLiteDatabase& DB = kb.DB();
    const std::string text25 = "printer jams every monday";
    const std::string text40 = "printer jams when printing envelopes ok.";
    std::string text200 = "printer " + std::string(32, 'a') + "   \t" + std::string(95, 'b') +
                          "\r\n" + std::string(60, 'c');
    ASSERT_EQ(text40.size(), 40u);
    kb::SaveEntry(DB, text25, "x");
    kb::SaveEntry(DB, text40, "y");
    kb::SaveEntry(DB, text200, "z");
    // 16 terms each once, sharing one with the query's 16: exactly 0.25, not a hit.
    std::string sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen += "q" + std::string(1, char('a' + i)) + "z ";
    kb::SaveEntry(DB, "qaz", "w");
    kb.store.LoadAll(kb.index);
    const TSearchIndex& index = kb.index;

    auto hits = IndexedPass(*EncodeCV("printer"), index);
    ASSERT_EQ(hits.size(), 3u);
    // All three score 1; among equal scores the later row comes first.
    std::reverse(hits.begin(), hits.end());
    EXPECT_EQ(hits[0].Title, text25 + "...");
    EXPECT_EQ(hits[0].excerpt, "");
    EXPECT_EQ(hits[1].Title, text40 + "...");
    EXPECT_EQ(hits[1].excerpt, "");
    EXPECT_EQ(hits[2].Title, text200.substr(0, 40) + "...");
    // Characters 41 to 140 are the blanks, the b's and the CR, trimmed at both ends.
    EXPECT_EQ(hits[2].excerpt, std::string(95, 'b'));
    EXPECT_EQ(hits[2].excerpt, HitExcerptUtf8(text200));

    const auto sixteenQuery = EncodeCV(sixteen);
    EXPECT_EQ(Proximity(*sixteenQuery, *EncodeCV("qaz")), 0.25f);
    EXPECT_TRUE(IndexedPass(*sixteenQuery, index).empty());
}

TEST(SearchIndex, BothTextsOfAnEntryAreListedUnderOneID) {
    TTempDir dir;
    TLoaded kb(dir);
    TSQLiteDatabase& DB = kb.DB();
    const std::string ID = kb::SaveEntry(DB, "printer jams", "printer fixed");
    kb.store.LoadAll(kb.index);
    const TSearchIndex& index = kb.index;
    const auto hits = IndexedPass(*EncodeCV("printer"), index);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].ID, ID);
    EXPECT_EQ(hits[1].ID, ID);
    EXPECT_NE(hits[0].Title, hits[1].Title);
}

TEST(SearchIndex, HitsOutliveTheIndexThatMadeThem) {
    TTempDir dir;
    TLoaded kb(dir);
    TSQLiteDatabase& DB = kb.DB();
    kb::SaveEntry(DB, "printer jams in the morning", "x");
    std::unique_ptr<TSearchPass> pass;
    {
        TSearchIndex index;
        kb.store.LoadAll(index);
        pass = index.Search(*EncodeCV("printer"));
    }
    ASSERT_EQ(pass->tree->Count(), 1);
    EXPECT_EQ(pass->tree->Items(0)->data->Title, "printer jams in the morning...");
}

}  // namespace
