// The stored form of texts: every typed character comes back, Windows-1252 texts are stored byte
// for byte as they always were, and hit titles, excerpts and term vectors do not depend on which
// form a text was stored in.
#include "core/storedtext.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <random>
#include <set>

#include "textsearch/cvvector.h"

namespace {

const std::string kMark(kUtf8Mark);
const std::string kMarkLookalike = "\u00EF\u00BB\u00BF";  // "ï»¿" typed

// A text as its characters, each one's UTF-8.
using TChars = std::vector<std::string>;

std::string Join(const TChars& chars, size_t from = 0, size_t count = std::string::npos) {
    std::string text;
    for (size_t i = from; i < chars.size() && i - from < count; ++i)
        text += chars[i];
    return text;
}

// REQUIRES: valid UTF-8.
TChars Split(std::string_view utf8) {
    TChars chars;
    for (char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) chars.emplace_back();
        chars.back() += c;
    }
    return chars;
}

bool ValidUtf8(const std::string& s) {
    return IsMarkedUtf8(kMark + s);
}

// The 256 characters Windows-1252 holds, as read back from each byte.
const TChars& Windows1252() {
    static const TChars chars = [] {
        TChars all;
        for (int b = 0; b < 256; ++b)
            all.push_back(Utf8FromStored(std::string(1, static_cast<char>(b))));
        return all;
    }();
    return chars;
}

bool FitsWindows1252(const TChars& text) {
    static const std::set<std::string> known(Windows1252().begin(), Windows1252().end());
    for (const std::string& c : text)
        if (!known.contains(c)) return false;
    return true;
}

// Random texts: mostly ASCII letters and digits, blanks and control characters (now and then a
// NUL), Windows-1252 characters, and unless asked not to, characters of other scripts, combining
// accents, characters beyond the BMP, C1 controls and specials. Now and then they begin with "ï»¿".
TChars RandomText(std::mt19937& random, bool windows1252Only, size_t maxLength = 220) {
    static const TChars kOthers = Split(
        "\u017C\u0142\u0107\u03A9\u03C0\u0416\u044F\u6253\u5370\u0301\u0308\U0001F5A8\U0001F525"
        "\U0010FFFD\u0080\u009F\uFEFF\uFFFD\uE000\u2028");
    const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    TChars text;
    if (pick(8) == 0) text = Split(kMarkLookalike);
    for (size_t length = pick(maxLength + 1); text.size() < length;) {
        switch (pick(windows1252Only ? 4 : 5)) {
            case 0:
            case 1:
                text.push_back(std::string(1, "abcdefghijXYZ0189"[pick(17)]));
                break;
            case 2:
                text.push_back(std::string(1, static_cast<char>(pick(40) == 0 ? 0
                                                                : pick(3)     ? 32
                                                                              : 1 + pick(32))));
                break;
            case 3:
                text.push_back(Windows1252()[pick(3) ? 33 + pick(94) : 127 + pick(129)]);
                break;
            default:
                text.push_back(kOthers[pick(kOthers.size())]);
        }
    }
    return text;
}

TEST(StoredText, EveryTextReadsBackAsTyped) {
    std::mt19937 random(1252);
    std::vector<std::string> texts = {"Zażółć gęślą jaźń",
                                      "Ο εκτυπωτής δεν τυπώνει",
                                      "Принтер не печатает",
                                      "打印机无法打印",
                                      "printer 🖨️ on fire 🔥",
                                      "cafe\u0301 na\u0308ive",
                                      kMarkLookalike,
                                      kMarkLookalike + "hi",
                                      "café € “quoted”",
                                      ""};
    for (int i = 0; i < 3000; ++i)
        texts.push_back(Join(RandomText(random, i % 2 == 0)));
    for (const std::string& typed : texts) {
        const std::string stored = StoredFromUtf8(typed);
        EXPECT_EQ(Utf8FromStored(stored), typed);
        // The UTF-8 form only where the code page cannot hold the text or would read it as marked.
        const TChars chars = Split(typed);
        const bool marked = !FitsWindows1252(chars) || typed.starts_with(kMarkLookalike);
        EXPECT_EQ(IsMarkedUtf8(stored), marked) << typed;
        EXPECT_EQ(stored.size(), marked ? kMark.size() + typed.size() : chars.size()) << typed;
    }
}

TEST(StoredText, Windows1252TextsAreStoredByteForByte) {
    // The code page as the C library knows it; its five undefined bytes stand for C1 controls.
    const iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b), out[4];
        char *in = &byte, *to = out;
        size_t inLeft = 1, outLeft = sizeof out;
        const bool known = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1);
        EXPECT_EQ(Windows1252()[b], known ? std::string(out, to) : "\xC2" + std::string(1, byte));
    }
    iconv_close(cd);

    std::mt19937 random(1);
    for (int i = 0; i < 3000; ++i) {
        std::string bytes = i % 4 == 0 ? kMark : "";
        for (size_t n = random() % 200; n > 0; --n)
            bytes += static_cast<char>(random());
        // Whatever a text column holds reads as a valid text that is stored the same way again.
        const std::string text = Utf8FromStored(bytes);
        ASSERT_TRUE(ValidUtf8(text));
        EXPECT_EQ(Utf8FromStored(StoredFromUtf8(text)), text);
        if (!bytes.starts_with(kMark)) {
            EXPECT_EQ(StoredFromUtf8(text), bytes);
        }
    }
}

TEST(StoredText, TheMarkCountsOnlyBeforeValidUtf8) {
    EXPECT_EQ(StoredFromUtf8(kMarkLookalike + "x"), kMark + "\xC3\xAF\xC2\xBB\xC2\xBFx");
    const std::pair<std::string, std::string> unmarked[] = {
        {kMark + "abc\xFF", kMarkLookalike + "abc\u00FF"},                // invalid after it
        {kMark + "\xE2\x82", kMarkLookalike + "\u00E2\u201A"},            // cut in a character
        {kMark + "\xED\xA0\x80", kMarkLookalike + "\u00ED\u00A0\u20AC"},  // a surrogate
        {"\xEF\xBB", "\u00EF\u00BB"}};
    for (const auto& [stored, shown] : unmarked) {
        EXPECT_FALSE(IsMarkedUtf8(stored));
        EXPECT_EQ(Utf8FromStored(stored), shown);
        EXPECT_EQ(HitTitleUtf8(stored), shown + "...");
    }
    // Ill-formed input is stored with U+FFFD for each maximal ill-formed part.
    const std::pair<std::string, std::string> repaired[] = {
        {"a\xFF"
         "b\xC3",
         "a\uFFFDb\uFFFD"},
        {"\xED\xA0\x80z", "\uFFFD\uFFFD\uFFFDz"},
        {"\xC0\xAF\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x9F\x94"
         "ok",
         "\uFFFDok"}};
    for (const auto& [input, text] : repaired)
        EXPECT_EQ(StoredFromUtf8(input), kMark + text);
    // What a server's text column holds, and how many characters it counts.
    for (const auto& [stored, shown] : unmarked) {
        const std::string_view after = std::string_view(stored).substr(
            stored.starts_with(kMark) ? kMark.size() : 0);
        EXPECT_EQ(Utf8Characters(after), -1);
    }
    EXPECT_EQ(Utf8Characters("caf\xC3\xA9 \xF0\x9F\x96\xA8"), 6);
    EXPECT_EQ(Utf8Characters(std::string("a\0b", 3)), -1);
    EXPECT_EQ(Utf8Characters(""), 0);
}

// The title and excerpt of a text, counted in its characters.
std::pair<std::string, std::string> Shown(TChars text) {
    text.resize(std::find(text.begin(), text.end(), std::string(1, '\0')) - text.begin());
    size_t from = 40, to = std::min<size_t>(text.size(), 140);
    while (from < to && static_cast<unsigned char>(text[from][0]) <= 32)
        ++from;
    while (to > from && static_cast<unsigned char>(text[to - 1][0]) <= 32)
        --to;
    return {Join(text, 0, 40) + "...", from < to ? Join(text, from, to - from) : ""};
}

std::pair<std::string, std::string> Hit(std::string_view stored) {
    return {HitTitleUtf8(stored), HitExcerptUtf8(stored)};
}

TEST(StoredText, HitsShowCharactersOfEitherFormAndNeedOnlyAPrefix) {
    std::mt19937 random(4);
    for (int i = 0; i < 4000; ++i) {
        const TChars text = RandomText(random, i % 3 == 0, i % 5 == 0 ? 600 : 220);
        const std::string stored = StoredFromUtf8(Join(text));
        EXPECT_EQ(Hit(stored), Shown(text)) << stored;
        // Today's bytes and the UTF-8 form of the same text show the same.
        if (FitsWindows1252(text)) {
            EXPECT_EQ(Hit(kMark + Join(text)), Hit(stored)) << stored;
        }
        // Damaged after the mark or cut short: only the prefix decides, and what shows is valid
        // UTF-8, also where the prefix ends inside a character.
        std::string damaged = stored;
        if (damaged.size() > 3 && i % 2 == 0) {
            damaged[3 + random() % (damaged.size() - 3)] = static_cast<char>(random());
        } else if (damaged.size() > 3) {
            damaged.resize(3 + random() % (damaged.size() - 3));
        }
        for (const std::string& s : {stored, damaged}) {
            const auto shown = Hit(s);
            EXPECT_EQ(Hit(s.substr(0, kHitTextBytes)), shown) << s;
            EXPECT_TRUE(ValidUtf8(shown.first) && ValidUtf8(shown.second)) << s;
            const std::string cut = s.substr(0, s.find('\0'));
            if (cut.size() < kHitTextBytes) {
                EXPECT_EQ(shown, Shown(Split(Utf8FromStored(cut)))) << s;
            }
        }
    }
}

TEST(StoredText, TermVectorsDoNotDependOnTheForm) {
    std::mt19937 random(6);
    for (int i = 0; i < 3000; ++i) {
        const TChars text = RandomText(random, i % 2 == 0);
        // Every character outside ASCII separates words, in either form.
        std::string words;
        for (const std::string& c : text)
            words += c.size() == 1 && static_cast<unsigned char>(c[0]) < 0x80 ? c : " ";
        const std::string terms = EncodeCV(words)->Text();
        EXPECT_EQ(EncodeCV(StoredFromUtf8(Join(text)))->Text(), terms);
        if (FitsWindows1252(text)) {
            EXPECT_EQ(EncodeCV(kMark + Join(text))->Text(), terms);
        }
    }
}

}  // namespace
