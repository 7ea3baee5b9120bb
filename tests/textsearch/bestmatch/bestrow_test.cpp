// Rows of Best match hits: titles and excerpts cut at word and character boundaries with "..."
// where cut, the passage holding the most typed words, and bold ranges on exactly those words.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/storedtext.h"
#include "textsearch/bestmatch/bestrow.h"
#include "textsearch/words/words.h"

namespace {

size_t Chars(const std::string& s) {
    size_t n = 0;
    for (const char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::vector<TQueryWord> Query(const std::string& text, bool typing = false) {
    const std::string languages[] = {"english"};
    return ReadQueryWords(text, languages, typing);
}

std::vector<std::string> BoldWords(const TBestRow& row) {
    std::vector<std::string> out;
    for (const TBoldRange& b : row.bold)
        out.push_back(row.excerpt.substr(b.begin, b.end - b.begin));
    return out;
}

TEST(BestRow, TitleIsTheFirstLineCutAtAWord) {
    const TEntryText shortOne{"Printer jams on tray 2\r\nIt started on Monday.", "Clean it."};
    EXPECT_EQ(MakeBestRow(ReadWords, shortOne, Query("jam"), 'P').title, "Printer jams on tray 2");

    const std::string line =
        "The network printer on the third floor rejects every job sent from the new laptops";
    const TBestRow row = MakeBestRow(ReadWords, {line, ""}, Query("laptops"), 'P');
    EXPECT_EQ(row.title, "The network printer on the third floor rejects every job...");
    EXPECT_LE(Chars(row.title), kBestTitleChars);

    // One long word of two-byte characters: cut between characters, never inside one.
    std::string accents;
    for (int i = 0; i < 80; ++i)
        accents += "\xC3\xA9";
    const TBestRow wide = MakeBestRow(ReadWords, {accents, "x"}, Query("x"), 'S');
    EXPECT_TRUE(IsValidUtf8(wide.title));
    EXPECT_EQ(Chars(wide.title), kBestTitleChars);
    EXPECT_TRUE(wide.title.ends_with("..."));
}

TEST(BestRow, ExcerptIsThePassageWithTheMostTypedWordsAndBoldsThem) {
    std::string filler;
    for (int i = 0; i < 30; ++i)
        filler += "some unrelated words here ";
    const std::string solution = "Toner at first. " + filler +
                                 "Then the paper tray jammed and the Toner light blinked. " +
                                 filler;
    const TBestRow row =
        MakeBestRow(ReadWords, {"Printer\n", solution}, Query("toner tray jams"), 'S');
    EXPECT_TRUE(row.excerpt.starts_with("...")) << row.excerpt;
    EXPECT_TRUE(row.excerpt.ends_with("...")) << row.excerpt;
    EXPECT_LE(Chars(row.excerpt), kBestExcerptChars);
    EXPECT_EQ(BoldWords(row), (std::vector<std::string>{"tray", "jammed", "Toner"}));
    // Cut where words begin and end.
    const std::string inner = row.excerpt.substr(3, row.excerpt.size() - 6);
    EXPECT_NE(solution.find(inner), std::string::npos);
    const size_t at = solution.find(inner);
    EXPECT_FALSE(std::isalnum(static_cast<unsigned char>(solution[at - 1])));
    EXPECT_FALSE(std::isalnum(static_cast<unsigned char>(solution[at + inner.size()])));

    // A short text is shown whole, on one line, without "...", and the word being typed is
    // matched by its beginning. A problem's first line is its title, so its excerpt is the rest,
    // and a problem of one line shows its solution.
    const TBestRow whole =
        MakeBestRow(ReadWords, {"Printer offline\r\nafter the update\nand reboot", "Reinstall"},
                    Query("upd", true), 'P');
    EXPECT_EQ(whole.excerpt, "after the update and reboot");
    EXPECT_EQ(BoldWords(whole), (std::vector<std::string>{"update"}));
    const TBestRow oneLine =
        MakeBestRow(ReadWords, {"Printer offline", "Update the driver"}, Query("upd", true), 'P');
    EXPECT_EQ(oneLine.excerpt, "Update the driver");
    EXPECT_EQ(BoldWords(oneLine), (std::vector<std::string>{"Update"}));
}

TEST(BestRow, RandomTextsGiveRowsWithinTheirBounds) {
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {
        "printer", "Tray", "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC", " ", ", ", "\r\n", "jam", "x"};
    for (int i = 0; i < 400; ++i) {
        std::string problem, solution;
        for (size_t n = rng() % 90; n > 0; --n)
            problem += pieces[rng() % pieces.size()];
        for (size_t n = rng() % 90; n > 0; --n)
            solution += pieces[rng() % pieces.size()];
        const std::vector<TQueryWord> query = Query("tray jam pri", rng() % 2 == 0);
        const TBestRow row =
            MakeBestRow(ReadWords, {problem, solution}, query, rng() % 2 ? 'P' : 'S');
        ASSERT_TRUE(IsValidUtf8(row.title)) << problem;
        ASSERT_TRUE(IsValidUtf8(row.excerpt)) << solution;
        EXPECT_LE(Chars(row.title), kBestTitleChars);
        EXPECT_LE(Chars(row.excerpt), kBestExcerptChars);
        EXPECT_EQ(row.excerpt.find_first_of("\r\n"), std::string::npos);
        uint32_t last = 0;
        for (const TBoldRange& b : row.bold) {
            ASSERT_LE(last, b.begin);
            ASSERT_LT(b.begin, b.end);
            ASSERT_LE(b.end, row.excerpt.size());
            last = b.end;
            const std::string word = row.excerpt.substr(b.begin, b.end - b.begin);
            const TTextWords read = ReadWords(word);
            ASSERT_EQ(read.words.size(), 1u) << word;
            const std::string& term = read.words[0].term;
            EXPECT_TRUE(term == "trai" || term == "jam" || term.starts_with("pri")) << word;
        }
    }
}

}  // namespace
