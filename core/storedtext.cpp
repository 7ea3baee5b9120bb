#include "core/storedtext.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

// Bytes 0x80-0x9F of Windows-1252; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

// The Windows-1252 byte of a character, or -1 when the code page has none.
int ByteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) return static_cast<int>(0x80 + i);
    }
    return -1;
}

// One step through UTF-8: a whole character, or the longest start of one that is ill-formed
// (where a decoder puts one U+FFFD), or the start of a character that the text ends inside.
struct TStep {
    enum TKind { kChar, kBad, kCut };
    TKind kind;
    size_t length;
    char32_t c;
};

TStep Step(std::string_view s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) return {TStep::kChar, 1, lead};
    size_t follow;
    char32_t c;
    unsigned char low = 0x80, high = 0xBF;  // the range of the next byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {TStep::kBad, 1, 0};
    }
    for (size_t n = 1; n <= follow; ++n) {
        if (i + n >= s.size()) return {TStep::kCut, n, 0};
        const auto next = static_cast<unsigned char>(s[i + n]);
        if (next < low || next > high) return {TStep::kBad, n, 0};
        c = (c << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {TStep::kChar, follow + 1, c};
}

// The first byte at or after i that is not ASCII, or the end of s.
size_t SkipAscii(std::string_view s, size_t i) {
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + i, sizeof word);
        if (word & 0x8080808080808080ULL) break;
    }
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
        ++i;
    return i;
}

// How far s is well-formed UTF-8: kChar when all of it, kCut when all but a character that it
// ends inside, kBad otherwise.
TStep::TKind CheckUtf8(std::string_view s) {
    for (size_t i = SkipAscii(s, 0); i < s.size(); i = SkipAscii(s, i)) {
        const TStep step = Step(s, i);
        if (step.kind != TStep::kChar) return step.kind;
        i += step.length;
    }
    return TStep::kChar;
}

// The UTF-8 of the code page's bytes 0x80-0xFF, none longer than three bytes.
struct TUtf8Char {
    char bytes[3];
    unsigned char length;
};
constexpr std::array<TUtf8Char, 128> kHighUtf8 = [] {
    std::array<TUtf8Char, 128> table{};
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char32_t c = b <= 0x9F ? kHigh[b - 0x80] : char32_t(b);
        TUtf8Char& u = table[b - 0x80];
        if (c < 0x800) {
            u = {{static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F)), 0}, 2};
        } else {
            u = {{static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                  static_cast<char>(0x80 | (c & 0x3F))},
                 3};
        }
    }
    return table;
}();

void AppendUtf8FromWindows1252(std::string& utf8, std::string_view bytes) {
    const size_t start = utf8.size();
    utf8.resize(start + bytes.size() * 3);
    char* out = utf8.data() + start;
    for (const char b : bytes) {
        if (static_cast<unsigned char>(b) < 0x80) {
            *out++ = b;
        } else {
            const TUtf8Char& c = kHighUtf8[static_cast<unsigned char>(b) - 0x80];
            std::memcpy(out, c.bytes, sizeof c.bytes);
            out += c.length;
        }
    }
    utf8.resize(static_cast<size_t>(out - utf8.data()));
}

// What a hit can show of a stored text, as UTF-8, with the byte offsets where its characters
// kHitTitleLength and kHitTitleLength + kHitExcerptLength begin (or its end, if shorter). Judged
// on the leading kHitTextBytes alone.
class TShownPart {
public:
    explicit TShownPart(std::string_view stored) {
        std::string_view text = stored.substr(0, kHitTextBytes);
        // A prefix of full length may end inside a character that the whole text completes.
        const bool mayBeCut = text.size() == kHitTextBytes && text.find('\0') == text.npos;
        text = text.substr(0, text.find('\0'));
        if (text.starts_with(kUtf8Mark) && ReadUtf8(text.substr(kUtf8Mark.size()), mayBeCut)) {
            return;
        }
        // Windows-1252: a character is a byte.
        const std::string_view bytes = text.substr(0, kShown);
        if (SkipAscii(bytes, 0) == bytes.size()) {
            futf8 = bytes;
            fexcerpt = std::min(bytes.size(), kHitTitleLength);
        } else {
            AppendUtf8FromWindows1252(fconverted, bytes.substr(0, kHitTitleLength));
            fexcerpt = fconverted.size();
            if (bytes.size() > kHitTitleLength) {
                AppendUtf8FromWindows1252(fconverted, bytes.substr(kHitTitleLength));
            }
            futf8 = fconverted;
        }
        fend = futf8.size();
    }

    std::string_view Title() const { return futf8.substr(0, fexcerpt); }
    std::string_view Excerpt() const { return futf8.substr(fexcerpt, fend - fexcerpt); }

private:
    static constexpr size_t kShown = kHitTitleLength + kHitExcerptLength;

    bool ReadUtf8(std::string_view utf8, bool mayBeCut) {
        size_t i = 0;
        for (size_t chars = 0; chars < kShown && i < utf8.size(); ++chars) {
            if (chars == kHitTitleLength) fexcerpt = i;
            const TStep step = Step(utf8, i);
            if (step.kind == TStep::kBad || (step.kind == TStep::kCut && !mayBeCut)) return false;
            if (step.kind == TStep::kCut) break;
            i += step.length;
        }
        const TStep::TKind rest = CheckUtf8(utf8.substr(i));
        if (rest == TStep::kBad || (rest == TStep::kCut && !mayBeCut)) return false;
        futf8 = utf8;
        fexcerpt = std::min(fexcerpt, i);
        fend = i;
        return true;
    }

    std::string fconverted;  // the UTF-8 of a Windows-1252 text that is not all ASCII
    std::string_view futf8;
    size_t fexcerpt = std::string_view::npos;
    size_t fend = 0;
};

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

// The Windows-1252 bytes of a UTF-8 text; false when it holds a character they cannot.
bool Windows1252FromUtf8(std::string_view utf8, std::string& windows1252) {
    windows1252.clear();
    windows1252.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t ascii = SkipAscii(utf8, i);
        windows1252.append(utf8.substr(i, ascii - i));
        if (ascii == utf8.size()) break;
        const TStep step = Step(utf8, ascii);
        const int byte = step.kind == TStep::kChar ? ByteOf(step.c) : -1;
        if (byte < 0) return false;
        windows1252 += static_cast<char>(byte);
        i = ascii + step.length;
    }
    return true;
}

}  // namespace

std::string StoredFromUtf8(std::string_view utf8) {
    std::string windows1252;
    if (Windows1252FromUtf8(utf8, windows1252) && !windows1252.starts_with(kUtf8Mark)) {
        return windows1252;
    }
    std::string stored(kUtf8Mark);
    if (CheckUtf8(utf8) == TStep::kChar) return stored.append(utf8);
    stored.reserve(kUtf8Mark.size() + utf8.size() + 8);
    for (size_t i = 0; i < utf8.size();) {
        const TStep step = Step(utf8, i);
        AppendUtf8(stored, step.kind == TStep::kChar ? step.c : kReplacement);
        i += step.length;
    }
    return stored;
}

TStoredForm OddFormOf(std::string_view stored) {
    // Windows-1252 bytes read back as themselves unless they look like the mark.
    if (!stored.starts_with(kUtf8Mark)) return TStoredForm::Usual;
    if (StoredFromUtf8(Utf8FromStored(stored)) == stored) return TStoredForm::Usual;
    return IsMarkedUtf8(stored) ? TStoredForm::Utf8 : TStoredForm::Windows1252;
}

std::optional<std::string> StoredInForm(std::string_view utf8, TStoredForm form) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    switch (form) {
        case TStoredForm::Usual:
            break;
        case TStoredForm::Utf8:
            return std::string(kUtf8Mark).append(utf8);
        case TStoredForm::Windows1252: {
            std::string windows1252;
            if (!Windows1252FromUtf8(utf8, windows1252)) return std::nullopt;
            return windows1252;
        }
    }
    return StoredFromUtf8(utf8);
}

std::string Utf8FromStored(std::string_view stored) {
    if (IsMarkedUtf8(stored)) return std::string(stored.substr(kUtf8Mark.size()));
    std::string utf8;
    AppendUtf8FromWindows1252(utf8, stored);
    return utf8;
}

bool IsMarkedUtf8(std::string_view stored) {
    return stored.starts_with(kUtf8Mark) &&
           CheckUtf8(stored.substr(kUtf8Mark.size())) == TStep::kChar;
}

std::string LabelUtf8(std::string_view value) {
    if (CheckUtf8(value) == TStep::kChar) return std::string(value);
    std::string utf8;
    AppendUtf8FromWindows1252(utf8, value);
    return utf8;
}

bool IsValidUtf8(std::string_view text) {
    return CheckUtf8(text) == TStep::kChar;
}

long Utf8Characters(std::string_view text) {
    if (text.find('\0') != std::string_view::npos || !IsValidUtf8(text)) return -1;
    long count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

std::string HitTitleUtf8(std::string_view stored) {
    return std::string(TShownPart(stored).Title()) += "...";
}

std::string HitExcerptUtf8(std::string_view stored) {
    // Blanks and control characters are single bytes in UTF-8, and no other character has one.
    const TShownPart shown(stored);
    std::string_view excerpt = shown.Excerpt();
    while (!excerpt.empty() && static_cast<unsigned char>(excerpt.front()) <= 32)
        excerpt.remove_prefix(1);
    while (!excerpt.empty() && static_cast<unsigned char>(excerpt.back()) <= 32)
        excerpt.remove_suffix(1);
    return std::string(excerpt);
}
