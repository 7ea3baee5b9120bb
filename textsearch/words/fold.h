// Characters as the word reader sees them, and the folding of what it reads.
//
// Every code point has a kind (does it belong to a word, and to which sort of word), a script
// group (which stemmers may apply) and whether it continues the unit before it. A unit is a
// character with the marks and other non-starters that follow it: folding works unit by unit,
// which gives the same result as folding the whole word because every unit starts at a
// normalisation boundary.
//
// A unit folds two ways: `folded`, its full case folding in compatibility composed form
// (NFKC_Casefold: ß -> ss, ς -> σ, fullwidth -> ASCII), and `bare`, the same without accents:
// the combining marks that a reader takes for accents are dropped (Latin and Greek diacritics;
// Cyrillic stress and diaeresis, but not the breve of й; Arabic and Hebrew pointing), the letters
// that are accented letters without a decomposition become their plain letter (ł -> l, ø -> o,
// đ -> d, æ -> ae, œ -> oe) and digits of every script become ASCII digits.
//
// Thread safety: the tables are built once, on first use, and are read-only after that.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TCharKind : uint8_t {
    Separator,
    Letter,    // a letter of a script written with spaces
    Digit,     // a decimal digit of any script
    Paired,    // a letter of a script written without spaces: read in pairs
    Continue,  // a mark, or a letter of no script of its own: continues the word it follows
    Joiner,    // soft hyphen, zero-width joiners, middle dot: inside a word only
};

// The scripts that decide which stemmers may apply to a word.
enum class TScriptGroup : uint8_t {
    None,  // no letter of a script (digits only)
    Latin,
    Greek,
    Cyrillic,
    Armenian,
    Hebrew,
    Arabic,
    Devanagari,
    Tamil,
    Other,
};
inline constexpr int kScriptGroups = 10;

struct TCharInfo {
    TCharKind kind;
    TScriptGroup group;
    bool continuesUnit;  // no normalisation boundary before it, or a mark
};

namespace words_detail {
// Packed: kind in bits 0-2, continuesUnit in bit 3, group in bits 4-7.
const uint8_t* BmpCharTable();
TCharInfo AstralCharInfo(char32_t c);
}  // namespace words_detail

// The table fetched once, for a caller that looks up every character of a text.
class TCharTable {
public:
    TCharTable() : fbmp(words_detail::BmpCharTable()) {}

    TCharInfo operator()(char32_t c) const {
        if (c < 0x10000) {
            const uint8_t packed = fbmp[c];
            return {static_cast<TCharKind>(packed & 7), static_cast<TScriptGroup>(packed >> 4),
                    (packed & 8) != 0};
        }
        return words_detail::AstralCharInfo(c);
    }

private:
    const uint8_t* fbmp;
};

inline TCharInfo CharInfo(char32_t c) {
    return TCharTable()(c);
}

// Appends the folded and bare forms of one unit (unit: its UTF-8 bytes, first: its first code
// point, single: whether the unit is that code point alone).
void AppendFoldedUnit(std::string_view unit, char32_t first, bool single, std::string& folded,
                      std::string& bare);

// The folded and bare forms of a whole text (for a caller that compares forms, such as a test).
void FoldText(std::string_view utf8, std::string& folded, std::string& bare);
