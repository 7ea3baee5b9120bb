// Best match ranks SemEval's dev questions clearly better than Classic (when the labelled data is
// on this machine; the test is skipped otherwise). A regression test of relevance, not a timing.
#include <gtest/gtest.h>

#include <filesystem>

#include "bench/relevance.h"

namespace {

constexpr const char* kData = "/work/shared/relevance";

TEST(BestMatchRelevance, BeatsClassicOnSemEvalDev) {
    if (!std::filesystem::exists(std::string(kData) + "/semeval2016-task3"))
        GTEST_SKIP() << "no relevance data in " << kData;
    const relevance::TSplit dev = relevance::ReadSemEval(kData, false);
    ASSERT_EQ(dev.queries.size(), 50u);
    const auto classic = relevance::MakeClassic(dev.entries);
    const auto best = relevance::MakeBestMatch(dev.entries, TBestMatchParams{});
    for (const bool title : {false, true}) {
        const relevance::TFigures c = relevance::Measure(dev, *classic, title);
        const relevance::TFigures b = relevance::Measure(dev, *best, title);
        EXPECT_GT(b.m[0], c.m[0] + 5) << (title ? "title" : "full") << " queries, MAP";
        EXPECT_LE(b.medianListed, 100) << (title ? "title" : "full") << " queries";
    }
}

}  // namespace
