// The shortcuts that loading a large knowledge base takes must not change a single hit.
// - The search index pairs every vector row with its text by place first and by key only where
//   the rows do not pair up. Whatever the order of the rows, texts without vectors, vectors
//   without texts, or a text table whose keys are not unique, each hit must show the text that
//   the per-hit description lookup finds.
// - The vector index splits mid-sized batches at any place and ends every batch of a few hundred
//   documents in a segment; scores must stay those of Proximity, also for documents added and
//   removed afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>

#include <sqlite3.h>
#include "bench/kbgen.h"
#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "port/errors.h"
#include "tempdir.h"
#include "textsearch/similarity.h"
#include "textsearch/vectorindex.h"

namespace {

struct THit {
    std::string ID, Title, excerpt;
    float score;
    bool operator==(const THit&) const = default;
};

// Every row scored in turn; the text of a hit from its own statement; best first, later rows
// first among equal scores.
std::vector<THit> RowByRow(const TcvVector& query, TSQLiteTable& rows, TSQLiteDatabase& DB) {
    std::vector<THit> hits;
    for (int r = 0; r < rows.Count(); ++r) {
        TcvVector stored;
        stored.SetText(rows.CellView(r, 2));
        const float score = Proximity(query, stored);
        if (!(score > TSearchIndex::kThreshold)) continue;
        const std::string ID(rows.CellView(r, 0));
        std::string text;
        try {
            text = kb::ReadDescription(DB, ID, rows.CellView(r, 1));
        } catch (const ESQLiteException&) {
            continue;  // a vector without its text is no hit
        }
        hits.push_back({ID, HitTitleUtf8(text), HitExcerptUtf8(text), score});
    }
    std::reverse(hits.begin(), hits.end());
    std::stable_sort(hits.begin(), hits.end(),
                     [](const THit& a, const THit& b) { return a.score > b.score; });
    return hits;
}

std::vector<THit> Indexed(const TcvVector& query, const TSearchIndex& index) {
    const auto pass = index.Search(query);
    std::vector<THit> hits;
    for (int p = pass->tree->Count() - 1; p >= 0; --p) {
        const TcvResults& r = *pass->tree->Items(p)->data;
        hits.push_back(
            {std::string(r.ID), std::string(r.Title), std::string(r.excerpt), r.Proximity});
    }
    return hits;
}

// The index as the program loads it from the file DB has open.
std::unique_ptr<TSearchIndex> Loaded(TSQLiteDatabase& DB) {
    TSQLiteStore store(sqlite3_db_filename(DB.Handle(), "main"));
    store.Open();
    auto index = std::make_unique<TSearchIndex>();
    store.LoadAll(*index);
    return index;
}

void ExpectSameHits(TSQLiteDatabase& DB, const std::vector<std::string>& queries) {
    auto rows = kb::LoadVectors(DB);
    const auto loaded = Loaded(DB);
    const TSearchIndex& index = *loaded;
    for (const std::string& q : queries) {
        const auto query = EncodeCV(q);
        EXPECT_EQ(Indexed(*query, index), RowByRow(*query, *rows, DB)) << q;
    }
}

// A name or text numbered n (built by appending: GCC 12 warns falsely about "x" + string).
std::string Numbered(std::string_view prefix, int n, std::string_view suffix = {}) {
    std::string s(prefix);
    s.append(std::to_string(n)).append(suffix);
    return s;
}

std::string Text(const std::string& words, int n) {
    return Numbered(words + " number ", n, " of a text long enough to have an excerpt");
}

TEST(SearchLoad, TextsInAnyOrderAndWithGapsPairWithTheirVectors) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    std::vector<std::string> ids;
    for (int e = 0; e < 12; ++e)
        ids.push_back(kb::SaveEntry(DB, Text("printer jams", e), Text("toner low", e)));
    // Texts written again in reverse order, a text without a vector among them, and a vector
    // without a text: nothing pairs up by place any more.
    auto texts = DB.GetTable("select ID,created,texttype,description from textdata");
    DB.ExecSQL("delete from textdata");
    for (int r = texts->Count() - 1; r >= 0; --r) {
        if (r == 5) {
            DB.ExecSQL(kb::InsertTextSQL("0stray", "", "P", "printer jams stray text"));
        }
        DB.ExecSQL(kb::InsertTextSQL(texts->CellView(r, 0), texts->CellView(r, 1),
                                     texts->CellView(r, 2), texts->CellView(r, 3)));
    }
    DB.ExecSQL(kb::InsertVectorSQL("0orphan", "S", EncodeCV("printer jams")->Text()));
    kb::DeleteEntry(DB, ids[3]);
    ExpectSameHits(DB, {"printer", "toner low", "printer jams number 7"});
}

TEST(SearchLoad, PlacesPairAfterTextsWithoutVectors) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    kb::CreateMissingTables(DB);
    for (int e = 0; e < 10; ++e) {
        if (e % 3 == 1) DB.ExecSQL(kb::InsertTextSQL(Numbered("stray", e), "", "S", "x"));
        kb::SaveEntry(DB, Text("network down", e), Text("router reset", e));
    }
    ExpectSameHits(DB, {"network", "router reset number 4"});
}

TEST(SearchLoad, WithoutAKeyTheFirstTextOfAnEntryWins) {
    TTempDir dir;
    TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
    // A file from elsewhere whose texts carry no key: two rows for one text.
    DB.ExecSQL(
        "create table textdata (ID varchar(40) not null,created datetime, credited "
        "varchar(255),texttype char(1) not null, description text)");
    DB.ExecSQL(kb::kCreateVectors);
    kb::CreateMissingTables(DB);
    for (int e = 0; e < 6; ++e) {
        const std::string ID = Numbered("id", e);
        DB.ExecSQL(kb::InsertTextSQL(ID, "", "P", Text("first scanner offline", e)));
        DB.ExecSQL(kb::InsertTextSQL(ID, "", "P", Text("second scanner offline", e)));
        DB.ExecSQL(kb::InsertVectorSQL(ID, "P", EncodeCV(Text("scanner offline", e))->Text()));
    }
    ExpectSameHits(DB, {"scanner", "offline number 2"});
    const auto hits = Indexed(*EncodeCV("scanner"), *Loaded(DB));
    ASSERT_EQ(hits.size(), 12u);  // the join lists each vector once per text row
    for (const THit& hit : hits)
        EXPECT_EQ(hit.Title.rfind("first", 0), 0u) << hit.Title;
}

TEST(SearchLoad, RandomOrdersOfTextsAndVectors) {
    std::mt19937 rng(11);
    for (int round = 0; round < 10; ++round) {
        TTempDir dir;
        TSQLiteDatabase DB(kb::KnowledgeBaseFile(dir.Path()));
        kb::CreateMissingTables(DB);
        struct TRow {
            std::string ID, type, text;
        };
        std::vector<TRow> rows;
        const char* words[] = {"disk", "full", "mail", "slow", "login", "error"};
        for (int e = 0; e < 15; ++e) {
            for (const char* type : {"P", "S"}) {
                std::string text;
                for (int w = 0; w < 4; ++w)
                    text.append(words[rng() % 6]).append(1, ' ');
                rows.push_back({Numbered("e", e), type, Text(text, e)});
            }
        }
        std::vector<TRow> textOrder = rows, vectorOrder = rows;
        std::shuffle(textOrder.begin(), textOrder.end(), rng);
        if (round % 2) std::shuffle(vectorOrder.begin(), vectorOrder.end(), rng);
        for (size_t i = 0; i < textOrder.size(); ++i) {
            if (i % 7 != 3)
                DB.ExecSQL(
                    kb::InsertTextSQL(textOrder[i].ID, "", textOrder[i].type, textOrder[i].text));
        }
        for (size_t i = 0; i < vectorOrder.size(); ++i) {
            if (i % 11 != 5)
                DB.ExecSQL(kb::InsertVectorSQL(vectorOrder[i].ID, vectorOrder[i].type,
                                               EncodeCV(vectorOrder[i].text)->Text()));
        }
        ExpectSameHits(DB, {"disk", "mail slow", "login error full"});
    }
}

// Every live document above the threshold, scored one by one.
TVectorIndex::TMatches Scored(const TcvVector& query, const std::vector<std::string>& texts,
                              const std::vector<bool>& removed) {
    TVectorIndex::TMatches matches;
    for (size_t d = 0; d < texts.size(); ++d) {
        if (removed[d]) continue;
        TcvVector stored;
        stored.SetText(texts[d]);
        try {
            const float score = Proximity(query, stored);
            if (score > TSearchIndex::kThreshold)
                matches.push_back({static_cast<TVectorIndex::DocId>(d), score});
        } catch (const EConvertError&) {
        }
    }
    return matches;
}

TEST(VectorIndexBatches, LargeAndMidSizedBatchesScoreAsProximityDoes) {
    kbgen::TTextGenerator generator(5);
    std::vector<std::string> texts;
    auto make = [&](size_t n) {
        std::vector<std::string_view> views;
        const size_t from = texts.size();
        for (size_t i = 0; i < n; ++i) {
            // Now and then a count that does not convert.
            texts.push_back(i % 97 == 3 ? "the=x\r\nprinter=2\r\n"
                                        : EncodeCV(generator.Text(5 + i % 40))->Text());
        }
        for (size_t i = from; i < texts.size(); ++i)
            views.push_back(texts[i]);
        return views;
    };
    TVectorIndex index;
    std::vector<bool> removed;
    auto check = [&](const char* what) {
        removed.resize(texts.size(), false);
        for (const std::string& q : {generator.Word(0), generator.Text(6), generator.Text(300)}) {
            const auto query = EncodeCV(q);
            TVectorIndex::TMatches found;
            index.Search(*query, TSearchIndex::kThreshold, found);
            const auto expected = Scored(*query, texts, removed);
            ASSERT_EQ(found.size(), expected.size()) << what;
            for (size_t i = 0; i < found.size(); ++i) {
                ASSERT_EQ(found[i].doc, expected[i].doc) << what;
                ASSERT_EQ(std::bit_cast<uint32_t>(found[i].score),
                          std::bit_cast<uint32_t>(expected[i].score))
                    << what;
            }
        }
    };
    // A batch that ends in a short segment, single additions after it, a batch halved at no
    // segment boundary, a small batch that stays in the tail, and removals across all of them.
    EXPECT_EQ(index.AddBatch(make(300)), 0u);
    check("after 300");
    for (const std::string_view text : make(5))
        index.Add(text);
    EXPECT_EQ(index.AddBatch(make(5000)), 305u);
    check("after 5000");
    index.AddBatch(make(100));
    for (TVectorIndex::DocId d = 0; d < texts.size(); d += 7) {
        index.Remove(d);
        removed.resize(texts.size(), false);
        removed[d] = true;
    }
    check("after removals");
    EXPECT_EQ(index.LiveCount(), std::count(removed.begin(), removed.end(), false));
}

}  // namespace
