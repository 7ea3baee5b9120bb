// A text stored in Windows-1252 and the same text stored as marked UTF-8 read as the same words.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/storedtext.h"
#include "textsearch/words/words.h"

namespace {

TEST(StoredWords, BothStoredFormsOfATextGiveTheSameWords) {
    std::mt19937 rng(11);
    // Letters with and without accents, the code page's own characters (0x80-0x9F: € Š Œ ž Ÿ
    // and quotes) and punctuation, so that every byte value occurs.
    for (int round = 0; round < 500; ++round) {
        std::string cp1252;
        for (size_t n = 1 + rng() % 60; n > 0; --n) {
            const unsigned pick = rng() % 4;
            cp1252 += static_cast<char>(pick == 0   ? 0x20
                                        : pick == 1 ? 'a' + rng() % 26
                                                    : 0x21 + rng() % (0x100 - 0x21));
        }
        const std::string utf8 = Utf8FromStored(cp1252);
        if (utf8.starts_with(kUtf8Mark)) continue;  // "ï»¿" would be taken for the mark
        const std::string marked = std::string(kUtf8Mark) + utf8;
        ASSERT_TRUE(IsMarkedUtf8(marked));
        const TTextWords fromCp1252 = ReadWords(Utf8FromStored(cp1252));
        const TTextWords fromUtf8 = ReadWords(Utf8FromStored(marked));
        EXPECT_EQ(fromCp1252.language, fromUtf8.language);
        ASSERT_EQ(fromCp1252.words.size(), fromUtf8.words.size()) << utf8;
        for (size_t k = 0; k < fromUtf8.words.size(); ++k) {
            EXPECT_EQ(fromCp1252.words[k].term, fromUtf8.words[k].term);
            EXPECT_EQ(fromCp1252.words[k].exact, fromUtf8.words[k].exact);
            EXPECT_EQ(fromCp1252.words[k].place.begin, fromUtf8.words[k].place.begin);
        }
    }
    // "café" stored by an earlier version reads as the word it was typed as.
    const TTextWords cafe = ReadWords(Utf8FromStored("caf\xE9"));
    ASSERT_EQ(cafe.words.size(), 1u);
    EXPECT_EQ(cafe.words[0].term, ReadWords("cafe").words[0].term);
    EXPECT_EQ(cafe.words[0].exact, "café");
}

}  // namespace
