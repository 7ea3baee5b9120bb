// The character table is computed from ICU's properties once for the whole Basic Multilingual
// Plane (64 KB), so that reading a text asks ICU nothing per character. Folding a unit of one
// code point below U+0800 (Latin, Greek, Cyrillic, Armenian, Hebrew, Arabic) is a table look-up
// too; a code point above that which normalisation leaves alone (Chinese, Japanese, Korean and
// most other letters) is copied; only what remains goes through ICU's normalisers.
#include "textsearch/words/fold.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <array>
#include <stdexcept>
#include <vector>

namespace {

const icu::Normalizer2& Nfkccf() {
    static const icu::Normalizer2* n = [] {
        UErrorCode e = U_ZERO_ERROR;
        const icu::Normalizer2* p = icu::Normalizer2::getNFKCCasefoldInstance(e);
        if (U_FAILURE(e)) throw std::runtime_error("ICU has no NFKC_Casefold data");
        return p;
    }();
    return *n;
}

const icu::Normalizer2& Nfd() {
    static const icu::Normalizer2* n = [] {
        UErrorCode e = U_ZERO_ERROR;
        const icu::Normalizer2* p = icu::Normalizer2::getNFDInstance(e);
        if (U_FAILURE(e)) throw std::runtime_error("ICU has no NFD data");
        return p;
    }();
    return *n;
}

const icu::Normalizer2& Nfc() {
    static const icu::Normalizer2* n = [] {
        UErrorCode e = U_ZERO_ERROR;
        const icu::Normalizer2* p = icu::Normalizer2::getNFCInstance(e);
        if (U_FAILURE(e)) throw std::runtime_error("ICU has no NFC data");
        return p;
    }();
    return *n;
}

bool IsPairedScript(UScriptCode s) {
    switch (s) {
        case USCRIPT_HAN:
        case USCRIPT_HIRAGANA:
        case USCRIPT_KATAKANA:
        case USCRIPT_HANGUL:
        case USCRIPT_BOPOMOFO:
        case USCRIPT_THAI:
        case USCRIPT_LAO:
        case USCRIPT_KHMER:
        case USCRIPT_MYANMAR:
            return true;
        default:
            return false;
    }
}

TScriptGroup GroupOf(UScriptCode s) {
    switch (s) {
        case USCRIPT_COMMON:
        case USCRIPT_INHERITED:
            return TScriptGroup::None;
        case USCRIPT_LATIN:
            return TScriptGroup::Latin;
        case USCRIPT_GREEK:
            return TScriptGroup::Greek;
        case USCRIPT_CYRILLIC:
            return TScriptGroup::Cyrillic;
        case USCRIPT_ARMENIAN:
            return TScriptGroup::Armenian;
        case USCRIPT_HEBREW:
            return TScriptGroup::Hebrew;
        case USCRIPT_ARABIC:
            return TScriptGroup::Arabic;
        case USCRIPT_DEVANAGARI:
            return TScriptGroup::Devanagari;
        case USCRIPT_TAMIL:
            return TScriptGroup::Tamil;
        default:
            return TScriptGroup::Other;
    }
}

TScriptGroup ScriptGroupOf(char32_t c) {
    UErrorCode e = U_ZERO_ERROR;
    const UScriptCode s = uscript_getScript(static_cast<UChar32>(c), &e);
    return U_FAILURE(e) ? TScriptGroup::Other : GroupOf(s);
}

TCharInfo ComputeCharInfo(char32_t c) {
    if (c < 0x80) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter) return {TCharKind::Letter, TScriptGroup::Latin, false};
        if (c >= '0' && c <= '9') return {TCharKind::Digit, TScriptGroup::None, false};
        return {TCharKind::Separator, TScriptGroup::None, false};
    }
    const UChar32 u = static_cast<UChar32>(c);
    const uint32_t mask = U_GET_GC_MASK(u);
    const bool mark = (mask & U_GC_M_MASK) != 0;
    const bool continuesUnit = mark || !Nfkccf().hasBoundaryBefore(u);
    UErrorCode e = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(u, &e);
    const TScriptGroup group = U_FAILURE(e) ? TScriptGroup::Other : GroupOf(script);
    TCharKind kind = TCharKind::Separator;
    if (mask & U_GC_ND_MASK) {
        return {TCharKind::Digit, TScriptGroup::None, continuesUnit};
    } else if (mask & U_GC_L_MASK) {
        kind = IsPairedScript(script)        ? TCharKind::Paired
               : group == TScriptGroup::None ? TCharKind::Continue
                                             : TCharKind::Letter;
    } else if (mark) {
        kind = TCharKind::Continue;
    } else if (c == 0xAD || c == 0xB7 || c == 0x200C || c == 0x200D || c == 0x2060) {
        kind = TCharKind::Joiner;
    }
    return {kind, group, continuesUnit};
}

uint8_t Pack(TCharInfo i) {
    return static_cast<uint8_t>(static_cast<unsigned>(i.kind) | (i.continuesUnit ? 8u : 0u) |
                                (static_cast<unsigned>(i.group) << 4));
}

void AppendUtf8(std::string& out, char32_t c) {
    char buffer[4];
    int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(c));
    out.append(buffer, static_cast<size_t>(length));
}

// A combining mark that a reader takes for an accent on a letter of group `base`.
bool IsAccent(char32_t m, TScriptGroup base) {
    switch (base) {
        case TScriptGroup::Cyrillic:
            // Stress marks and the diaeresis of ё; the breve makes й and ў letters of their own.
            return m == 0x300 || m == 0x301 || m == 0x308;
        case TScriptGroup::Arabic:
            return (m >= 0x64B && m <= 0x65F) || m == 0x670;
        case TScriptGroup::Hebrew:
            return m >= 0x591 && m <= 0x5C7 && m != 0x5BE && m != 0x5C0 && m != 0x5C3 && m != 0x5C6;
        case TScriptGroup::None:
        case TScriptGroup::Latin:
        case TScriptGroup::Greek:
            return (m >= 0x300 && m <= 0x36F) || (m >= 0x1DC0 && m <= 0x1DFF);
        default:
            return false;
    }
}

// Letters that carry their accent without a decomposition, as their plain letters.
const char* PlainLetters(char32_t c) {
    switch (c) {
        case 0xE6:
            return "ae";  // æ
        case 0xF0:
            return "d";  // ð
        case 0xF8:
            return "o";  // ø
        case 0xFE:
            return "th";  // þ
        case 0x111:
            return "d";  // đ
        case 0x127:
            return "h";  // ħ
        case 0x131:
            return "i";  // ı
        case 0x142:
            return "l";  // ł
        case 0x153:
            return "oe";  // œ
        case 0x167:
            return "t";  // ŧ
        case 0xB7:
            return "";  // the middle dot of Catalan l·l
        default:
            return nullptr;
    }
}

// Folds a unit through ICU: NFKC_Casefold, then NFD, the accents dropped, NFC.
void FoldUnitSlowly(std::string_view unit, std::string& folded, std::string& bare) {
    UErrorCode e = U_ZERO_ERROR;
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(unit.data(), static_cast<int32_t>(unit.size())));
    const icu::UnicodeString f = Nfkccf().normalize(source, e);
    const icu::UnicodeString d = Nfd().normalize(f, e);
    if (U_FAILURE(e)) return;
    f.toUTF8String(folded);
    icu::UnicodeString plain;
    TScriptGroup base = TScriptGroup::None;
    for (int32_t i = 0; i < d.length();) {
        const UChar32 c = d.char32At(i);
        i += U16_LENGTH(c);
        if (U_GET_GC_MASK(c) & U_GC_M_MASK) {
            if (!IsAccent(static_cast<char32_t>(c), base)) plain.append(c);
            continue;
        }
        base = ScriptGroupOf(static_cast<char32_t>(c));
        if (const char* p = PlainLetters(static_cast<char32_t>(c))) {
            plain.append(icu::UnicodeString(p, -1, icu::UnicodeString::kInvariant));
        } else if (c >= 0x80 && u_charType(c) == U_DECIMAL_DIGIT_NUMBER) {
            plain.append(static_cast<UChar>('0' + u_charDigitValue(c)));
        } else {
            plain.append(c);
        }
    }
    Nfc().normalize(plain, e).toUTF8String(bare);
}

// Folded and bare forms of every code point below U+0800, as slices of one pool.
class TSmallFolds {
public:
    TSmallFolds() {
        std::string folded, bare;
        for (char32_t c = 0x80; c < kEnd; ++c) {
            folded.clear();
            bare.clear();
            if (c < 0xD800 || c > 0xDFFF) {
                std::string unit;
                AppendUtf8(unit, c);
                FoldUnitSlowly(unit, folded, bare);
            }
            TEntry& entry = fentries[c];
            entry.folded = static_cast<uint16_t>(fpool.size());
            entry.foldedLength = static_cast<uint8_t>(folded.size());
            fpool += folded;
            entry.bare = static_cast<uint16_t>(fpool.size());
            entry.bareLength = static_cast<uint8_t>(bare.size());
            fpool += bare;
        }
    }

    void Append(char32_t c, std::string& folded, std::string& bare) const {
        const TEntry& entry = fentries[c];
        folded.append(fpool, entry.folded, entry.foldedLength);
        bare.append(fpool, entry.bare, entry.bareLength);
    }

    static constexpr char32_t kEnd = 0x800;

private:
    struct TEntry {
        uint16_t folded = 0, bare = 0;
        uint8_t foldedLength = 0, bareLength = 0;
    };
    std::array<TEntry, kEnd> fentries{};
    std::string fpool;
};

const TSmallFolds& SmallFolds() {
    static const TSmallFolds folds;
    return folds;
}

}  // namespace

namespace words_detail {

const uint8_t* BmpCharTable() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) {
            const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
            t[c] = surrogate ? 0 : Pack(ComputeCharInfo(c));
        }
        return t;
    }();
    return table.data();
}

TCharInfo AstralCharInfo(char32_t c) {
    return c > 0x10FFFF ? TCharInfo{TCharKind::Separator, TScriptGroup::None, false}
                        : ComputeCharInfo(c);
}

}  // namespace words_detail

void AppendFoldedUnit(std::string_view unit, char32_t first, bool single, std::string& folded,
                      std::string& bare) {
    if (single) {
        if (first < 0x80) {
            const char lower = static_cast<char>(first >= 'A' && first <= 'Z' ? first + 32 : first);
            folded += lower;
            bare += lower;
            return;
        }
        if (first < TSmallFolds::kEnd) {
            SmallFolds().Append(first, folded, bare);
            return;
        }
        // A Hangul syllable on its own is already composed; other letters that normalisation
        // leaves alone have no mapping. Either way the unit stands for itself.
        icu::UnicodeString mapping;
        const bool hangul = first >= 0xAC00 && first <= 0xD7A3;
        if (hangul || !Nfkccf().getDecomposition(static_cast<UChar32>(first), mapping)) {
            folded.append(unit);
            if (u_charType(static_cast<UChar32>(first)) == U_DECIMAL_DIGIT_NUMBER) {
                bare += static_cast<char>('0' + u_charDigitValue(static_cast<UChar32>(first)));
            } else {
                bare.append(unit);
            }
            return;
        }
    }
    FoldUnitSlowly(unit, folded, bare);
}

void FoldText(std::string_view utf8, std::string& folded, std::string& bare) {
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto n = static_cast<int32_t>(utf8.size());
    int32_t i = 0;
    while (i < n) {
        const int32_t begin = i;
        UChar32 first;
        U8_NEXT(s, i, n, first);
        if (first < 0) continue;
        bool single = true;
        while (i < n) {
            int32_t next = i;
            UChar32 c;
            U8_NEXT(s, next, n, c);
            if (c < 0 || !CharInfo(static_cast<char32_t>(c)).continuesUnit) break;
            single = false;
            i = next;
        }
        AppendFoldedUnit(utf8.substr(static_cast<size_t>(begin), static_cast<size_t>(i - begin)),
                         static_cast<char32_t>(first), single, folded, bare);
    }
}
