// The search over the loaded vectors gives exactly the hits of scoring every loaded row in turn,
// as a straightforward pass does: parse the stored vector, score it with Proximity, look the text
// up with its own statement, keep it above 0.25, order by score with later rows first on ties.
#include "searchindex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "knowledgebase.h"
#include "port/errors.h"
#include "tempdir.h"
#include "textsearch/similarity.h"

namespace {

struct THit {
    std::string ID, Title, excerpt;
    float score;
    bool operator==(const THit& o) const {
        return ID == o.ID && Title == o.Title && excerpt == o.excerpt &&
               std::memcmp(&score, &o.score, sizeof score) == 0;
    }
};

std::ostream& operator<<(std::ostream& out, const THit& h) {
    return out << h.ID << " " << h.score << " [" << h.Title << "] [" << h.excerpt << "]";
}

// The pass as first written: one row at a time, every step as plain as it gets. A row that
// cannot be scored or shown is skipped.
std::vector<THit> LiteralPass(const TcvVector& query, TSQLiteTable& searchtable,
                              TSQLiteDatabase& DB) {
    std::vector<THit> hits;
    for (bool more = searchtable.MoveFirst(); more && !searchtable.Eof(); searchtable.Next()) {
        TcvVector stored;
        stored.SetText(searchtable.FieldAsString(2));
        float score;
        try {
            score = Proximity(query, stored);
        } catch (const EConvertError&) {
            continue;
        }
        if (!(score > 0.25f)) continue;
        std::string text;
        try {
            text =
                kb::ReadDescription(DB, searchtable.FieldAsString(0), searchtable.FieldAsString(1));
        } catch (const ESQLiteException&) {
            continue;
        }
        std::string excerpt = text.size() > 40 ? text.substr(40, 100) : "";
        while (!excerpt.empty() && static_cast<unsigned char>(excerpt.back()) <= 32)
            excerpt.pop_back();
        while (!excerpt.empty() && static_cast<unsigned char>(excerpt.front()) <= 32)
            excerpt.erase(0, 1);
        hits.push_back({searchtable.FieldAsString(0), text.substr(0, 40) + "...", excerpt, score});
    }
    // Best first; among equal scores the later row first, as the score tree orders them.
    std::vector<THit> ordered(hits.rbegin(), hits.rend());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const THit& a, const THit& b) { return a.score > b.score; });
    return ordered;
}

std::vector<THit> IndexedPass(const TcvVector& query, const TSearchIndex& index) {
    auto pass = index.Search(query);
    std::vector<THit> hits;
    for (int p = pass->tree->Count() - 1; p >= 0; --p) {
        const TcvResults* r = pass->tree->Items(p)->data;
        hits.push_back(
            {std::string(r->ID), std::string(r->Title), std::string(r->excerpt), r->Proximity});
    }
    EXPECT_EQ(pass->hits.size(), hits.size());
    return hits;
}

const char* const kWords[] = {"printer", "printers", "printing", "jam",       "jammed", "paper",
                              "tray",    "network",  "connect",  "connected", "error",  "the",
                              "a",       "it's",     "driver",   "Driver",    "reboot", "ing",
                              "caf\xE9", "win98",    "1990s",    "toner",     "e-mail", "x"};

std::string RandomText(std::mt19937& rng, int maxWords) {
    std::uniform_int_distribution<int> words(0, maxWords), pick(0, std::size(kWords) - 1),
        sep(0, 9);
    std::string text;
    const int n = words(rng);
    for (int i = 0; i < n; ++i) {
        if (i) text += sep(rng) == 0 ? "\r\n" : (sep(rng) == 1 ? ", " : " ");
        text += kWords[pick(rng)];
    }
    return text;
}

// A knowledge base with ordinary entries and the damage older files can carry: vectors without
// their texts, malformed and duplicated counts, upper-case names, texts with NUL bytes.
void FillRandomly(TSQLiteDatabase& DB, std::mt19937& rng, int entries) {
    std::uniform_int_distribution<int> kind(0, 19);
    for (int e = 0; e < entries; ++e) {
        const int k = kind(rng);
        if (k == 0) {
            DB.ExecSQL(kb::InsertVectorSQL("orphan" + std::to_string(e), "P",
                                           EncodeCV(RandomText(rng, 6))->Text()));
        } else if (k == 1) {
            const std::string ID = kb::SaveEntry(DB, RandomText(rng, 8), RandomText(rng, 8));
            const char* bad[] = {"printer=x\r\njam=2\r\n",  "PRINTER=3\r\nprinter=1\r\n",
                                 "jam\r\n=4\r\npaper=\r\n", "printer=99999999999\r\n",
                                 "printer=-2\r\nthe=1\r\n", "printer=07\r\n\r\npaper=1"};
            DB.ExecSQL("update vectors set vectordata='" +
                       std::string(bad[std::uniform_int_distribution<int>(0, 5)(rng)]) +
                       "' where ID='" + ID + "' and texttype='P'");
        } else if (k == 2) {
            const std::string ID = kb::SaveEntry(DB, RandomText(rng, 30), RandomText(rng, 4));
            DB.ExecSQL(
                "update textdata set description='printer jam '||char(0)||' hidden' where ID='" +
                ID + "' and texttype='P'");
        } else {
            kb::SaveEntry(DB, RandomText(rng, k < 6 ? 60 : 8), RandomText(rng, 12));
        }
    }
}

TEST(SearchIndex, GivesTheHitsOfTheRowByRowPassOnRandomKnowledgeBases) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 40; ++round) {
        TTempDir dir;
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(DB);
        FillRandomly(DB, rng, std::uniform_int_distribution<int>(0, 40)(rng));
        auto searchtable = kb::LoadVectors(DB);
        TSearchIndex index;
        index.Load(*searchtable, DB);
        for (int q = 0; q < 15; ++q) {
            const auto query = EncodeCV(RandomText(rng, q < 3 ? 1 : 7));
            const auto expected = LiteralPass(*query, *searchtable, DB);
            ASSERT_EQ(IndexedPass(*query, index), expected)
                << "round " << round << " query " << query->Text();
        }
    }
}

TEST(SearchIndex, StaysExactAcrossAppendsAndRemovals) {
    std::mt19937 rng(7);
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    FillRandomly(DB, rng, 20);
    auto kept = kb::LoadVectors(DB);
    TSearchIndex index;
    index.Load(*kept, DB);
    kb::TVectorsMark mark = kb::MarkVectors(DB);
    std::vector<std::string> ids;
    for (int step = 0; step < 30; ++step) {
        if (step % 3 == 2 && !ids.empty()) {
            const std::string ID =
                ids[std::uniform_int_distribution<size_t>(0, ids.size() - 1)(rng)];
            kb::DeleteEntry(DB, ID);
            kept->DeleteRowsWhere(0, ID);
            index.Remove(ID);
            ids.erase(std::find(ids.begin(), ids.end(), ID));
        } else {
            ids.push_back(kb::SaveEntry(DB, RandomText(rng, 10), RandomText(rng, 10)));
            auto added = kb::LoadVectorsAddedAfter(DB, mark);
            EXPECT_EQ(added->Count(), 2);
            kept->AppendRows(*added);
            index.Append(*added, DB);
        }
        mark = kb::MarkVectors(DB);
        auto fresh = kb::LoadVectors(DB);
        ASSERT_EQ(kept->Count(), fresh->Count());
        for (int r = 0; r < fresh->Count(); ++r) {
            for (unsigned c = 0; c < 3; ++c)
                ASSERT_EQ(kept->CellView(r, c), fresh->CellView(r, c));
        }
        const auto query = EncodeCV(RandomText(rng, 5));
        ASSERT_EQ(IndexedPass(*query, index), LiteralPass(*query, *fresh, DB));
    }
    EXPECT_EQ(index.LiveCount(), static_cast<size_t>(kept->Count()));
}

TEST(SearchIndex, TitlesExcerptsAndTheThreshold) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
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
    auto table = kb::LoadVectors(DB);
    TSearchIndex index;
    index.Load(*table, DB);

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
    EXPECT_EQ(hits[2].excerpt, HitExcerpt(text200));

    const auto sixteenQuery = EncodeCV(sixteen);
    EXPECT_EQ(Proximity(*sixteenQuery, *EncodeCV("qaz")), 0.25f);
    EXPECT_TRUE(IndexedPass(*sixteenQuery, index).empty());
}

TEST(SearchIndex, BothTextsOfAnEntryAreListedUnderOneID) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    const std::string ID = kb::SaveEntry(DB, "printer jams", "printer fixed");
    auto table = kb::LoadVectors(DB);
    TSearchIndex index;
    index.Load(*table, DB);
    const auto hits = IndexedPass(*EncodeCV("printer"), index);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].ID, ID);
    EXPECT_EQ(hits[1].ID, ID);
    EXPECT_NE(hits[0].Title, hits[1].Title);
}

TEST(SearchIndex, HitsOutliveTheIndexThatMadeThem) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    kb::SaveEntry(DB, "printer jams in the morning", "x");
    auto table = kb::LoadVectors(DB);
    std::unique_ptr<TSearchPass> pass;
    {
        TSearchIndex index;
        index.Load(*table, DB);
        pass = index.Search(*EncodeCV("printer"));
    }
    ASSERT_EQ(pass->tree->Count(), 1);
    EXPECT_EQ(pass->tree->Items(0)->data->Title, "printer jams in the morning...");
}

}  // namespace
