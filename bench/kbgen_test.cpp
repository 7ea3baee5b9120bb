// The generator's promises: texts follow from the seed alone, have the lengths asked for, draw
// from a vocabulary of distinct stems whose commonest words are in nearly every text and whose
// rarest in almost none; the file it writes reads back as those texts and their vectors.
#include "bench/kbgen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "core/knowledgebase.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"

namespace {

size_t Words(const std::string& text) {
    std::istringstream in(text);
    size_t n = 0;
    for (std::string w; in >> w;)
        ++n;
    return n;
}

TEST(KbGen, TextsFollowFromTheSeedWithTheLengthsAsked) {
    kbgen::TTextGenerator a(7), b(7), c(8);
    size_t total = 0;
    for (const size_t n : {1u, 10u, 20u, 200u, 2000u}) {
        total += n;
        const std::string text = a.Text(n);
        EXPECT_EQ(Words(text), n) << text;
        EXPECT_EQ(b.Text(n), text);
        EXPECT_NE(c.Text(n), text);
    }
    for (int i = 0; i < 200; ++i) {
        const size_t n = Words(a.StoredText());
        total += n;
        EXPECT_GE(n, kbgen::kMinWords);
        EXPECT_LE(n, kbgen::kMaxWords);
    }
    EXPECT_EQ(a.WordsMade(), total);
}

TEST(KbGen, CommonWordsMatchNearlyEverythingAndRareOnesAlmostNothing) {
    kbgen::TTextGenerator generator(kbgen::kDefaultSeed);
    ASSERT_GE(generator.VocabularySize(), 20000u);
    std::string all;
    for (size_t r = 0; r < generator.VocabularySize(); ++r)
        all += generator.Word(r) + " ";
    // Every word brings a stem of its own (a word like "can't" brings two).
    EXPECT_GE(EncodeCV(all)->Count(), static_cast<int>(generator.VocabularySize()));
    EXPECT_GT(generator.Probability(0), 1000 * generator.Probability(19999));

    const std::string common = Prepared(generator.Word(0));
    const std::string rare = Prepared(generator.Word(generator.VocabularySize() - 1));
    int withCommon = 0, withRare = 0;
    constexpr int kTexts = 2000;
    for (int i = 0; i < kTexts; ++i) {
        const auto vector = EncodeCV(generator.StoredText());
        withCommon += vector->Values(common).empty() ? 0 : 1;
        withRare += vector->Values(rare).empty() ? 0 : 1;
    }
    EXPECT_GT(withCommon, kTexts * 95 / 100);
    EXPECT_LT(withRare, kTexts / 100);
}

TEST(KbGen, WritesAKnowledgeBaseThatReadsBackAsItsTexts) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    const kbgen::TGenerated made = kbgen::Generate(file, 30, 99);
    EXPECT_EQ(made.entries, 30u);
    EXPECT_THROW(kbgen::Generate(file, 1, 99), std::exception);

    kbgen::TTextGenerator again(99);
    TSQLiteDatabase DB(file);
    const auto vectors = kb::LoadVectors(DB);
    ASSERT_EQ(vectors->Count(), 60);
    std::set<std::string> ids;
    size_t words = 0;
    for (int r = 0; r < vectors->Count(); ++r) {
        // Rows come back in the order saved: each entry's problem, then its solution.
        const std::string text = again.StoredText();
        words += Words(text);
        const std::string ID(vectors->CellView(r, 0));
        ids.insert(ID);
        EXPECT_EQ(vectors->CellView(r, 1), r % 2 == 0 ? kb::kProblem : kb::kSolution);
        EXPECT_EQ(vectors->CellView(r, 2), EncodeCV(text)->Text());
        EXPECT_EQ(kb::ReadDescription(DB, ID, vectors->CellView(r, 1)), text);
    }
    EXPECT_EQ(ids.size(), 30u);
    EXPECT_EQ(made.words, words);
    EXPECT_EQ(kb::ReadFontSize(DB), 10);
}

TEST(KbGen, CachedKnowledgeBasesAreMadeOnce) {
    TTempDir dir;
    const std::string file = kbgen::CachedKnowledgeBase(dir.Path(), 5, 3);
    const auto written = std::filesystem::last_write_time(file);
    EXPECT_EQ(kbgen::CachedKnowledgeBase(dir.Path(), 5, 3), file);
    EXPECT_EQ(std::filesystem::last_write_time(file), written);
    EXPECT_NE(kbgen::CachedKnowledgeBase(dir.Path(), 5, 4), file);
    // Nothing half-made is left beside them.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

}  // namespace
