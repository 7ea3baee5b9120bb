#include "storedtext.h"

#include <array>

namespace {

// Bytes 0x80-0x9F of Windows-1252; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

char32_t CharOf(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : char32_t{byte};
}

// The Windows-1252 byte of a character, or -1 when the code page has none.
int ByteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) return static_cast<int>(0x80 + i);
    }
    return -1;
}

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

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const TStep step = Step(s, i);
        if (step.kind != TStep::kChar) return false;
        i += step.length;
    }
    return true;
}

std::string Utf8FromWindows1252(std::string_view bytes) {
    std::string utf8;
    utf8.reserve(bytes.size() + bytes.size() / 4);
    for (char b : bytes)
        AppendUtf8(utf8, CharOf(static_cast<unsigned char>(b)));
    return utf8;
}

// The characters of a stored text that a hit can show, judged on its leading kHitTextBytes alone.
class THitChars {
public:
    explicit THitChars(std::string_view stored) {
        std::string_view text = stored.substr(0, stored.find('\0')).substr(0, kHitTextBytes);
        if (text.starts_with(kUtf8Mark) && ReadUtf8(text)) return;
        fcount = 0;  // not UTF-8 after all: the Windows-1252 characters of its bytes
        for (char b : text.substr(0, kShown))
            fchars[fcount++] = CharOf(static_cast<unsigned char>(b));
    }

    std::u32string_view Chars() const { return {fchars.data(), fcount}; }

private:
    static constexpr size_t kShown = kHitTitleLength + kHitExcerptLength;

    bool ReadUtf8(std::string_view text) {
        // A prefix of full length may end inside a character that the whole text completes.
        const bool mayBeCut = text.size() == kHitTextBytes;
        const std::string_view utf8 = text.substr(kUtf8Mark.size());
        for (size_t i = 0; i < utf8.size();) {
            const TStep step = Step(utf8, i);
            if (step.kind == TStep::kCut) return mayBeCut;
            if (step.kind == TStep::kBad) return false;
            if (fcount < kShown) fchars[fcount++] = step.c;
            i += step.length;
        }
        return true;
    }

    std::array<char32_t, kShown> fchars;
    size_t fcount = 0;
};

std::string Utf8Of(std::u32string_view chars) {
    std::string utf8;
    utf8.reserve(chars.size());
    for (char32_t c : chars)
        AppendUtf8(utf8, c);
    return utf8;
}

}  // namespace

std::string StoredFromUtf8(std::string_view utf8) {
    std::string windows1252;
    windows1252.reserve(utf8.size());
    bool valid = true;
    bool fits = true;
    for (size_t i = 0; i < utf8.size();) {
        const TStep step = Step(utf8, i);
        i += step.length;
        if (step.kind != TStep::kChar) {
            valid = fits = false;
            break;
        }
        const int byte = ByteOf(step.c);
        if (byte < 0) {
            fits = false;
            break;
        }
        windows1252 += static_cast<char>(byte);
    }
    if (fits && !windows1252.starts_with(kUtf8Mark)) return windows1252;

    std::string stored(kUtf8Mark);
    if (valid && ValidUtf8(utf8)) {
        stored += utf8;
        return stored;
    }
    stored.reserve(kUtf8Mark.size() + utf8.size() + 8);
    for (size_t i = 0; i < utf8.size();) {
        const TStep step = Step(utf8, i);
        AppendUtf8(stored, step.kind == TStep::kChar ? step.c : kReplacement);
        i += step.length;
    }
    return stored;
}

std::string Utf8FromStored(std::string_view stored) {
    if (IsMarkedUtf8(stored)) return std::string(stored.substr(kUtf8Mark.size()));
    return Utf8FromWindows1252(stored);
}

bool IsMarkedUtf8(std::string_view stored) {
    return stored.starts_with(kUtf8Mark) && ValidUtf8(stored.substr(kUtf8Mark.size()));
}

std::string HitTitleUtf8(std::string_view stored) {
    const THitChars chars(stored);
    return Utf8Of(chars.Chars().substr(0, kHitTitleLength)) + "...";
}

std::string HitExcerptUtf8(std::string_view stored) {
    const THitChars chars(stored);
    if (chars.Chars().size() <= kHitTitleLength) return {};
    std::u32string_view excerpt = chars.Chars().substr(kHitTitleLength);
    while (!excerpt.empty() && excerpt.front() <= 32)
        excerpt.remove_prefix(1);
    while (!excerpt.empty() && excerpt.back() <= 32)
        excerpt.remove_suffix(1);
    return Utf8Of(excerpt);
}
