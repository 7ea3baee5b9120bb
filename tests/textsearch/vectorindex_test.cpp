// The vector index must give exactly what parsing each stored text and calling Proximity gives:
// same documents, same scores bit for bit, the same documents skipped for malformed counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "port/errors.h"
#include "textsearch/cvvector.h"
#include "textsearch/similarity.h"
#include "textsearch/vectorindex.h"

namespace {

using TMatch = TVectorIndex::TMatch;
using TMatches = TVectorIndex::TMatches;

// What the search pass would find by scoring every live stored text in turn.
TMatches Literal(const std::vector<std::string>& texts, const std::vector<bool>& live,
                            const TcvVector& query, float threshold) {
    TMatches out;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!live[i]) continue;
        TcvVector stored;
        stored.SetText(texts[i]);
        try {
            const float score = Proximity(query, stored);
            if (score > threshold) out.push_back({static_cast<TVectorIndex::DocId>(i), score});
        } catch (const EConvertError&) {
        }
    }
    return out;
}

TMatches Indexed(const TVectorIndex& index, const TcvVector& query, float threshold) {
    TMatches out;
    index.Search(query, threshold, out);
    return out;
}

void ExpectSame(const TMatches& expected, const TMatches& actual,
                const std::string& what) {
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(expected[i].doc, actual[i].doc) << what << " at " << i;
        ASSERT_EQ(std::bit_cast<uint32_t>(expected[i].score),
                  std::bit_cast<uint32_t>(actual[i].score))
            << what << " doc " << expected[i].doc << ": " << expected[i].score << " vs "
            << actual[i].score;
    }
}

TcvVector ListOf(std::initializer_list<std::string> lines, float magnitude) {
    TcvVector v;
    for (const std::string& line : lines)
        v.Add(line);
    v.magnitude = magnitude;
    return v;
}

TEST(VectorIndex, ScoresLikeProximity) {
    const std::vector<std::string> texts = {
        EncodeCV("The printer jams when I print envelopes")->Text(),
        EncodeCV("printer printer cable")->Text(),
        EncodeCV("paper tray empty")->Text(),
        "",
        EncodeCV("Printers print; the printer jams.")->Text(),
    };
    TVectorIndex index;
    for (const std::string& t : texts)
        index.Add(t);
    EXPECT_EQ(index.LiveCount(), 5u);
    const std::vector<bool> live(texts.size(), true);
    for (const char* q :
         {"Printers print; the printer jams.", "printer jams", "paper", "", "ing"}) {
        const auto query = EncodeCV(q);
        for (const float threshold : {0.25f, 0.0f, -1.0f}) {
            ExpectSame(Literal(texts, live, *query, threshold), Indexed(index, *query, threshold),
                       q);
        }
    }
    const auto matches = Indexed(index, *EncodeCV("Printers print; the printer jams."), 0.25f);
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0].doc, 0u);
    EXPECT_EQ(matches[0].score, 0x1.e3cb66p-1f);
    EXPECT_EQ(matches[2].doc, 4u);
    EXPECT_EQ(matches[2].score, 1.0f);
}

TEST(VectorIndex, ThresholdIsStrict) {
    std::string sixteen;
    for (char c = 'a'; c < 'a' + 16; ++c)
        sixteen += std::string(3, c) + " ";
    TVectorIndex index;
    index.Add("ggg=1\r\n");
    index.Add("ggg=1\r\nhhh=1\r\n");
    const auto matches = Indexed(index, *EncodeCV(sixteen), 0.25f);
    ASSERT_EQ(matches.size(), 1u);  // exactly 0.25 is not a hit
    EXPECT_EQ(matches[0].doc, 1u);
}

TEST(VectorIndex, StoredLinesFollowTheListRules) {
    const std::vector<std::string> texts = {"Printer=2\r\nPRINTER=50\r\njam=1\r\n",
                                            "printer=x\r\njam=1\r\n",
                                            "toner=x\r\nprinter=1\r\n",
                                            "x3\rprinter=1\n",
                                            std::string("printer=1\r\n\0jam=5\r\n", 20),
                                            "printer=\r\njam=2\r\n"};
    const std::vector<bool> live(texts.size(), true);
    TVectorIndex exact;
    for (const std::string& t : texts)
        exact.Add(t);
    for (const TcvVector& query : {*EncodeCV("printer jams"), ListOf({"=1", "printer=1"}, 2),
                                   ListOf({"printer=1", "jam=z"}, 1)}) {
        ExpectSame(Literal(texts, live, query, -1.0f), Indexed(exact, query, -1.0f), query.Text());
    }
    const auto matches = Indexed(exact, *EncodeCV("printer jams"), 0.0f);
    std::vector<TVectorIndex::DocId> docs;
    for (const TMatch& m : matches)
        docs.push_back(m.doc);
    EXPECT_EQ(docs, (std::vector<TVectorIndex::DocId>{0, 2, 3, 4, 5}));  // 1 is left out
}

TEST(VectorIndex, RemovedDocumentsAreLeftOut) {
    TVectorIndex index({.segmentDocs = 4, .parallelPostings = 1000});
    std::vector<std::string> texts;
    for (int i = 0; i < 30; ++i)
        texts.push_back("printer=" + std::to_string(i + 1) + "\r\njam=1\r\n");
    for (const std::string& t : texts)
        index.Add(t);
    std::vector<bool> live(texts.size(), true);
    for (const int id : {0, 5, 6, 7, 29, 13, 12, 5, 100}) {
        index.Remove(static_cast<TVectorIndex::DocId>(id));  // twice and unknown: ignored
        if (id < 30) live[static_cast<size_t>(id)] = false;
    }
    EXPECT_EQ(index.LiveCount(), 23u);
    const auto query = EncodeCV("printer jams");
    ExpectSame(Literal(texts, live, *query, 0.25f), Indexed(index, *query, 0.25f), "after removal");
    ExpectSame(Literal(texts, live, *query, -1.0f), Indexed(index, *query, -1.0f), "all live");
    const auto id = index.Add("printer=1\r\n");
    EXPECT_EQ(id, 30u);
}

TEST(VectorIndex, OddQueryMagnitudesAndThresholds) {
    const std::vector<std::string> texts = {"a=1\r\nb=2\r\n", "c=1\r\n", "a=x\r\n", "",
                                            "b=3\r\na=0\r\n"};
    TVectorIndex index;
    for (const std::string& t : texts)
        index.Add(t);
    const std::vector<bool> live(texts.size(), true);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const float magnitude : {0.0f, -0.0f, -2.0f, 1e-40f, inf, nan, 3.0f}) {
        for (const float threshold : {0.25f, 0.0f, -0.0f, -1.0f, -inf, nan}) {
            for (const TcvVector& query :
                 {ListOf({"a=1", "b=2"}, magnitude), ListOf({"a=1", "b=q"}, magnitude),
                  ListOf({}, magnitude), ListOf({"A=0", "a=3", "zz=1"}, magnitude)}) {
                ExpectSame(Literal(texts, live, query, threshold), Indexed(index, query, threshold),
                           query.Text() + " m=" + std::to_string(magnitude) +
                               " t=" + std::to_string(threshold));
            }
        }
    }
}

// Above 2^24 a float no longer holds every whole number, so a dot product rounded after each
// term can differ from its exact sum; below it, whichever way the sum is taken is the same.
TEST(VectorIndex, DotProductsRoundAfterEachTermAsProximityDoes) {
    std::vector<std::string> texts;
    for (const int x : {1, 2, 3, 254})
        for (const int y : {1, 2, 7})
            texts.push_back("x=" + std::to_string(x) + "\r\ny=" + std::to_string(y) + "\r\n");
    const std::vector<bool> live(texts.size(), true);
    for (const uint32_t segmentDocs : {1u, 16384u}) {
        TVectorIndex index({.segmentDocs = segmentDocs});
        for (const std::string& t : texts)
            index.Add(t);
        for (const int64_t qx : {int64_t{16777215}, int64_t{16777217}, int64_t{8388609},
                                 int64_t{66051}, int64_t{3}}) {
            const TcvVector query = ListOf({"x=" + std::to_string(qx), "y=1"}, 1e7f);
            ExpectSame(Literal(texts, live, query, -1.0f), Indexed(index, query, -1.0f),
                       query.Text());
        }
    }
}

// Random stored vectors and queries full of what can go wrong in a stored text.
class TRandomCorpus {
public:
    explicit TRandomCorpus(uint32_t seed) : frng(seed) {}

    std::string Name() {
        static const std::vector<std::string> names = {"printer", "Printer", "PRINTER", "jam",
                                                       "paper",   "",        "caf\xE9", "CAF\xC9",
                                                       "disk",    "x",       "the",     "error"};
        std::string name = names[frng() % names.size()];
        if (frng() % 3 == 0) name += std::to_string(frng() % 50);
        return name;
    }

    std::string Count() {
        static const std::vector<std::string> odd = {
            "0",          "",    "x",   "-1",    " 1",   "+3",  "2147483647",
            "2147483648", "255", "256", "46341", "0007", "1e3", "99999999999"};
        const uint32_t kind = frng() % 20;
        if (kind < 14) return std::to_string(1 + frng() % 12);
        if (kind < 16) return std::to_string(200 + frng() % 100000);
        return odd[frng() % odd.size()];
    }

    std::string Line() {
        const uint32_t kind = frng() % 25;
        if (kind == 0) return "";
        if (kind == 1) return Name();  // no '='
        if (kind == 2) return Name() + "=" + Count() + "=" + Count();
        return Name() + "=" + Count();
    }

    std::string StoredText() {
        static const std::vector<std::string> breaks = {"\r\n", "\r\n", "\r\n", "\r", "\n"};
        std::string text;
        const uint32_t lines = frng() % 12;
        for (uint32_t i = 0; i < lines; ++i) {
            text += Line();
            text += breaks[frng() % breaks.size()];
        }
        if (frng() % 30 == 0) text.insert(text.size() / 2, 1, '\0');
        return text;
    }

    TcvVector Query() {
        TcvVector q;
        if (frng() % 3 == 0) {
            std::string text;
            for (uint32_t i = frng() % 10; i > 0; --i)
                text += Name() + " ";
            q = *EncodeCV(text);
            return q;
        }
        for (uint32_t i = frng() % 8; i > 0; --i)
            q.Add(Line());
        static const float magnitudes[] = {0.0f,
                                           1.0f,
                                           2.5f,
                                           17.0f,
                                           -1.0f,
                                           1e30f,
                                           std::numeric_limits<float>::infinity(),
                                           std::numeric_limits<float>::quiet_NaN()};
        q.magnitude = magnitudes[frng() % 8];
        return q;
    }

    float Threshold() {
        static const float thresholds[] = {0.25f, 0.25f, 0.0f, 0.5f, 0.9f, -1.0f, 1.0f};
        return thresholds[frng() % 7];
    }

    uint32_t Next() { return frng(); }

private:
    std::mt19937 frng;
};

TEST(VectorIndex, PropertyAgreesWithProximityBitForBit) {
    for (const uint32_t segmentDocs : {1u, 7u, 64u, 16384u}) {
        TRandomCorpus corpus(segmentDocs);
        TVectorIndex index({.segmentDocs = segmentDocs, .parallelPostings = 50});
        std::vector<std::string> texts;
        std::vector<bool> live;
        for (int round = 0; round < 6; ++round) {
            const int adds = 150 + static_cast<int>(corpus.Next() % 150);
            for (int i = 0; i < adds; ++i) {
                texts.push_back(corpus.StoredText());
                live.push_back(true);
                ASSERT_EQ(index.Add(texts.back()), texts.size() - 1);
            }
            for (int i = 0; i < 40; ++i) {
                const uint32_t id = corpus.Next() % texts.size();
                index.Remove(id);
                live[id] = false;
            }
            size_t liveCount = 0;
            for (const bool l : live)
                liveCount += l ? 1 : 0;
            ASSERT_EQ(index.LiveCount(), liveCount);
            for (int q = 0; q < 40; ++q) {
                const TcvVector query = corpus.Query();
                const float threshold = corpus.Threshold();
                ExpectSame(Literal(texts, live, query, threshold), Indexed(index, query, threshold),
                           "segment " + std::to_string(segmentDocs) + " query " + query.Text());
            }
        }
    }
}

// The second batch spans several rounds of the two threads' parsing, and names new to the index
// turn up all through it, so that either thread meets some first.
TEST(VectorIndex, AddBatchEqualsAddingOneByOne) {
    TRandomCorpus corpus(99);
    std::vector<std::string> texts = {"printer=1\r\n"};
    for (int i = 0; i < 20000; ++i) {
        texts.push_back(corpus.StoredText());
        if (i % 97 == 0)
            texts.back() +=
                "Fresh" + std::to_string(i / 970) + "=0" + std::to_string(1 + i % 3) + "\r\n";
    }
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    TVectorIndex batch({.segmentDocs = 100, .parallelPostings = 50});
    batch.Add(views[0]);
    EXPECT_EQ(batch.AddBatch(std::span(views).subspan(1, 2999)), 1u);
    EXPECT_EQ(batch.AddBatch(std::span(views).subspan(3000)), 3000u);
    std::vector<bool> live(texts.size(), true);
    for (int i = 0; i < 3000; ++i) {  // enough to compact segments built by batches
        const uint32_t id = corpus.Next() % 2800;
        batch.Remove(id);
        live[id] = false;
    }
    for (int q = 0; q < 30; ++q) {
        TcvVector query = corpus.Query();
        if (q % 3 == 0) {
            query.Add("fresh" + std::to_string(q % 21) + "=1");
            if (query.magnitude == 0) query.magnitude = 1.5f;
        }
        ExpectSame(Literal(texts, live, query, -1.0f), Indexed(batch, query, -1.0f), query.Text());
    }
}

// A load that streams its rows adds them in chunks of any size, with removals and single adds
// in between: batches that end early, open segments joined with later documents, removals in
// open segments and in the tail, blocks parsed on two threads.
TEST(VectorIndex, ChunkedLoadingAgreesWithProximity) {
    const size_t chunkSizes[] = {1, 3, 9, 260, 1024, 1100, 2500};
    for (const uint32_t segmentDocs : {1u, 8u, 100u, 1500u, 16384u}) {
        TRandomCorpus corpus(segmentDocs + 1);
        TVectorIndex index({.segmentDocs = segmentDocs, .parallelPostings = 500});
        std::vector<std::string> texts;
        std::vector<bool> live;
        for (int round = 0; round < 12; ++round) {
            const size_t chunk = chunkSizes[corpus.Next() % std::size(chunkSizes)];
            const size_t first = texts.size();
            for (size_t i = 0; i < chunk; ++i) {
                texts.push_back(corpus.StoredText());
                live.push_back(true);
            }
            const std::vector<std::string_view> views(texts.begin() + first, texts.end());
            if (chunk == 1) {
                ASSERT_EQ(index.Add(views[0]), first);
            } else {
                ASSERT_EQ(index.AddBatch(views), first);
            }
            for (int i = corpus.Next() % 3 == 0 ? 200 : 3; i > 0; --i) {
                const uint32_t id = corpus.Next() % texts.size();
                index.Remove(id);
                live[id] = false;
            }
            for (int q = 0; q < 6; ++q) {
                const TcvVector query = corpus.Query();
                const float threshold = corpus.Threshold();
                ExpectSame(Literal(texts, live, query, threshold), Indexed(index, query, threshold),
                           "segment " + std::to_string(segmentDocs) + " round " +
                               std::to_string(round) + " query " + query.Text());
            }
        }
    }
}

// Chunks must not cost memory: no segment cut short at every chunk's end, no room kept for a
// tail that the next chunk may never fill.
TEST(VectorIndex, LoadingInChunksHoldsNoMoreThanOneBatch) {
    TRandomCorpus corpus(7);
    std::vector<std::string> texts;
    for (int i = 0; i < 40000; ++i)
        texts.push_back(corpus.StoredText());
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    TVectorIndex whole;
    whole.AddBatch(views);
    for (const size_t chunk : {300u, 4096u}) {
        TVectorIndex chunked;
        for (size_t at = 0; at < views.size(); at += chunk)
            chunked.AddBatch(std::span(views).subspan(at, std::min(chunk, views.size() - at)));
        EXPECT_LE(chunked.MemoryUsage(), whole.MemoryUsage() * 21 / 20) << "chunks of " << chunk;
    }
}

TEST(VectorIndex, ConcurrentSearchesAgree) {
    TRandomCorpus corpus(5);
    TVectorIndex index({.segmentDocs = 50, .parallelPostings = 100});
    for (int i = 0; i < 2000; ++i)
        index.Add(corpus.StoredText());
    std::vector<TcvVector> queries;
    for (int i = 0; i < 20; ++i)
        queries.push_back(corpus.Query());
    std::vector<TMatches> expected;
    for (const TcvVector& q : queries)
        expected.push_back(Indexed(index, q, 0.0f));
    std::vector<std::thread> threads;
    std::vector<int> failures(3, 0);
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < queries.size(); ++i) {
                const auto got = Indexed(index, queries[i], 0.0f);
                if (got.size() != expected[i].size()) ++failures[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0}));
}

TEST(VectorIndex, MovedIndexKeepsItsDocuments) {
    TVectorIndex index;
    index.Add("printer=1\r\n");
    TVectorIndex moved = std::move(index);
    EXPECT_EQ(moved.LiveCount(), 1u);
    index = TVectorIndex();
    EXPECT_EQ(index.LiveCount(), 0u);
    EXPECT_EQ(Indexed(moved, *EncodeCV("printer"), 0.25f).size(), 1u);
}

}  // namespace
