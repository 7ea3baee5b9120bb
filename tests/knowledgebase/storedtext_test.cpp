// The stored form of texts: every typed character comes back, Windows-1252 texts are stored byte
// for byte as they always were, and hit titles, excerpts and term vectors do not depend on which
// form a text was stored in.
#include "storedtext.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <set>

#include "textsearch/cvvector.h"

namespace {

std::string Utf8(std::u32string_view chars) {
    std::string out;
    for (char32_t c : chars) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out +=
                {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out +=
                {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

// REQUIRES: valid UTF-8.
std::u32string Chars(std::string_view utf8) {
    std::u32string chars;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? lead : lead & (0x7F >> n);
        for (size_t k = 1; k < n; ++k)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        chars += c;
        i += n;
    }
    return chars;
}

bool ValidUtf8(std::string_view s) {
    return IsMarkedUtf8(std::string(kUtf8Mark) + std::string(s));
}

// The 256 characters Windows-1252 holds, one for each byte.
const std::u32string& Windows1252() {
    static const std::u32string chars = [] {
        std::u32string all;
        for (int b = 0; b < 256; ++b)
            all += Chars(Utf8FromStored(std::string(1, static_cast<char>(b))));
        return all;
    }();
    return chars;
}

bool FitsWindows1252(std::u32string_view text) {
    return text.find_first_not_of(Windows1252()) == text.npos;
}

// Random texts of every kind of character: mostly ASCII words, blanks and control characters,
// with the Windows-1252 letters, or with any of Latin Extended, Greek, Cyrillic, CJK, combining
// accents, characters beyond the BMP, C1 controls and specials. Now and then a NUL, and now and
// then the three characters whose Windows-1252 bytes are the UTF-8 mark.
class TTexts {
public:
    explicit TTexts(unsigned seed) : frandom(seed) {}

    std::u32string Next(bool windows1252Only, size_t maxLength = 220) {
        std::u32string text;
        if (Pick(8) == 0) text = U"\u00EF\u00BB\u00BF";
        const size_t length = Pick(maxLength + 1);
        while (text.size() < length)
            text += Char(windows1252Only);
        return text;
    }

    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(frandom); }

private:
    char32_t Between(char32_t low, char32_t high) {
        return static_cast<char32_t>(low + Pick(high - low + 1));
    }

    char32_t Char(bool windows1252Only) {
        static constexpr std::u32string_view kWordChars =
            U"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        switch (Pick(windows1252Only ? 4 : 10)) {
            case 0:
            case 1:
                return kWordChars[Pick(kWordChars.size())];
            case 2:
                return Pick(40) == 0 ? U'\0' : Pick(3) ? U' ' : Between(1, 32);
            case 3:
                return Pick(3) ? Between(33, 126) : Windows1252()[Between(127, 255)];
            case 4:
                return Between(0x100, 0x17F);
            case 5:
                return Pick(2) ? Between(0x391, 0x3C9) : Between(0x410, 0x44F);
            case 6:
                return Between(0x4E00, 0x9FFF);
            case 7:
                return Between(0x300, 0x36F);
            case 8:
                return Pick(2) ? Between(0x1F300, 0x1FAFF) : Between(0x10000, 0x10FFFF);
            default: {
                static constexpr char32_t kSpecial[] = {0x80,   0x81,   0x9F,   0xFEFF,
                                                        0xFFFD, 0xFFFF, 0xE000, 0x2028};
                return kSpecial[Pick(std::size(kSpecial))];
            }
        }
    }

    std::mt19937 frandom;
};

TEST(StoredText, EveryTextReadsBackAsTyped) {
    const std::u32string samples[] = {
        U"Zażółć gęślą jaźń",
        U"Ο εκτυπωτής δεν τυπώνει",
        U"Принтер не печатает",
        U"打印机无法打印",
        U"printer 🖨️ on fire 🔥",
        U"cafe\u0301 na\u0308ive",
        U"\u00EF\u00BB\u00BF",
        U"\u00EF\u00BB\u00BFhello",
        U"caf\u00E9 \u20AC \u201Cquoted\u201D",
        U"",
    };
    TTexts random(1252);
    std::vector<std::u32string> texts(std::begin(samples), std::end(samples));
    for (int i = 0; i < 3000; ++i)
        texts.push_back(random.Next(i % 2 == 0));
    for (const std::u32string& text : texts) {
        const std::string typed = Utf8(text);
        const std::string stored = StoredFromUtf8(typed);
        EXPECT_EQ(Utf8FromStored(stored), typed);
        // The UTF-8 form only where the code page cannot hold the text or would read it as marked.
        const bool marked = !FitsWindows1252(text) || text.starts_with(U"\u00EF\u00BB\u00BF");
        EXPECT_EQ(IsMarkedUtf8(stored), marked) << typed;
        EXPECT_EQ(stored.size(), marked ? kUtf8Mark.size() + typed.size() : text.size()) << typed;
    }
}

// A byte as the C library's Windows-1252 converter reads it, or empty where it has no character.
std::string SystemWindows1252(iconv_t cd, char byte) {
    char out[8];
    char* in = &byte;
    char* to = out;
    size_t inLeft = 1, outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1)) return {};
    return std::string(out, static_cast<size_t>(to - out));
}

TEST(StoredText, Windows1252TextsAreStoredByteForByte) {
    // The code page as the system knows it; its five undefined bytes stand for C1 controls.
    const iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const std::string system = SystemWindows1252(cd, byte);
        EXPECT_EQ(Utf8FromStored(std::string(1, byte)),
                  system.empty() ? Utf8(std::u32string(1, static_cast<char32_t>(b))) : system)
            << b;
    }
    iconv_close(cd);
    EXPECT_EQ(std::set<char32_t>(Windows1252().begin(), Windows1252().end()).size(), 256u);

    std::mt19937 random(1);
    for (int i = 0; i < 3000; ++i) {
        std::string bytes(std::uniform_int_distribution<size_t>(0, 200)(random), '\0');
        if (i % 4 == 0) bytes.insert(0, kUtf8Mark);
        for (size_t k = i % 4 == 0 ? 3 : 0; k < bytes.size(); ++k)
            bytes[k] = static_cast<char>(random());
        // Whatever a text column holds reads as a valid text that is stored the same way again.
        const std::string text = Utf8FromStored(bytes);
        ASSERT_TRUE(ValidUtf8(text));
        EXPECT_EQ(Utf8FromStored(StoredFromUtf8(text)), text);
        if (!bytes.starts_with(kUtf8Mark)) {
            EXPECT_EQ(StoredFromUtf8(text), bytes);
        }
    }
}

TEST(StoredText, TheMarkCountsOnlyBeforeValidUtf8) {
    const std::string mark(kUtf8Mark);
    // Typed "ï»¿": stored in UTF-8, so that it does not read back as a marked empty text.
    EXPECT_EQ(StoredFromUtf8(Utf8(U"\u00EF\u00BB\u00BFx")), mark + "\xC3\xAF\xC2\xBB\xC2\xBFx");
    struct TCase {
        std::string stored;
        std::u32string shown;
    };
    const TCase unmarked[] = {
        {mark + "abc\xFF",
         U"\u00EF\u00BB\u00BF"
         U"abc\u00FF"},                                          // invalid after the mark
        {mark + "\xE2\x82", U"\u00EF\u00BB\u00BF\u00E2\u201A"},  // ends inside a character
        {mark + "\xED\xA0\x80", U"\u00EF\u00BB\u00BF\u00ED\u00A0\u20AC"},  // a surrogate
        {"\xEF\xBB", U"\u00EF\u00BB"},
    };
    for (const TCase& c : unmarked) {
        EXPECT_FALSE(IsMarkedUtf8(c.stored));
        EXPECT_EQ(Utf8FromStored(c.stored), Utf8(c.shown));
        EXPECT_EQ(HitTitleUtf8(c.stored), Utf8(c.shown) + "...");
    }
    // Ill-formed input is stored with U+FFFD for each maximal ill-formed part.
    const std::pair<std::string, std::u32string> repaired[] = {
        {"a\xFF"
         "b\xC3",
         U"a\uFFFDb\uFFFD"},
        {"\xED\xA0\x80z", U"\uFFFD\uFFFD\uFFFDz"},
        {"\xC0\xAF", U"\uFFFD\uFFFD"},
        {"\xF0\x9F\x94"
         "ok",
         U"\uFFFDok"},
    };
    for (const auto& [input, text] : repaired) {
        const std::string stored = StoredFromUtf8(input);
        EXPECT_EQ(stored, mark + Utf8(text));
        EXPECT_TRUE(IsMarkedUtf8(stored));
    }
}

// The title and excerpt of a text, counted in its characters.
std::pair<std::string, std::string> Shown(std::u32string_view text) {
    text = text.substr(0, text.find(U'\0'));
    std::u32string_view excerpt = text.size() > 40 ? text.substr(40, 100) : U"";
    while (!excerpt.empty() && excerpt.front() <= 32)
        excerpt.remove_prefix(1);
    while (!excerpt.empty() && excerpt.back() <= 32)
        excerpt.remove_suffix(1);
    return {Utf8(text.substr(0, 40)) + "...", Utf8(excerpt)};
}

std::pair<std::string, std::string> Hit(std::string_view stored) {
    return {HitTitleUtf8(stored), HitExcerptUtf8(stored)};
}

TEST(StoredText, HitsShowCharactersOfEitherFormAndNeedOnlyAPrefix) {
    TTexts random(4);
    std::mt19937 bytes(5);
    for (int i = 0; i < 4000; ++i) {
        const std::u32string text = random.Next(i % 3 == 0, i % 5 == 0 ? 600 : 220);
        const std::string stored = StoredFromUtf8(Utf8(text));
        EXPECT_EQ(Hit(stored), Shown(text)) << stored;
        if (FitsWindows1252(text)) {
            // Today's bytes and the UTF-8 form of the same text show the same.
            EXPECT_EQ(Hit(std::string(kUtf8Mark) + Utf8(text)), Hit(stored)) << stored;
        }
        // A text damaged after the mark or cut short: whatever it shows, only its prefix
        // decides, and what it shows is valid UTF-8 (also where the prefix ends inside a
        // character).
        std::string damaged = stored;
        if (damaged.size() > 3 && i % 2 == 0) {
            damaged[random.Pick(damaged.size() - 3) + 3] = static_cast<char>(bytes());
        } else if (damaged.size() > 3) {
            damaged.resize(random.Pick(damaged.size() - 3) + 3);
        }
        for (const std::string& s : {stored, damaged}) {
            const auto shown = Hit(s);
            EXPECT_EQ(Hit(s.substr(0, kHitTextBytes)), shown) << s;
            EXPECT_TRUE(ValidUtf8(shown.first) && ValidUtf8(shown.second)) << s;
            const std::string_view cut = std::string_view(s).substr(0, s.find('\0'));
            if (cut.size() < kHitTextBytes) {
                EXPECT_EQ(shown, Shown(Chars(Utf8FromStored(cut)))) << s;
            }
        }
    }
}

TEST(StoredText, TermVectorsDoNotDependOnTheForm) {
    TTexts random(6);
    for (int i = 0; i < 3000; ++i) {
        const std::u32string text = random.Next(i % 2 == 0);
        // Every character outside ASCII separates words, in either form.
        std::u32string words = text;
        for (char32_t& c : words)
            if (c >= 0x80) c = U' ';
        const std::string terms = EncodeCV(Utf8(words))->Text();
        EXPECT_EQ(EncodeCV(StoredFromUtf8(Utf8(text)))->Text(), terms);
        if (FitsWindows1252(text)) {
            EXPECT_EQ(EncodeCV(std::string(kUtf8Mark) + Utf8(text))->Text(), terms);
        }
    }
}

}  // namespace
