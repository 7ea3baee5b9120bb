// Reading a text takes two passes. The first walks the bytes once, cuts the words, folds each
// (an ASCII word by lower-casing its bytes, anything else unit by unit, see fold.h) and counts
// the common words of each language as it goes; the words wait, folded, in the result itself.
// The second knows the language of each script and stems every word in place. Nothing is
// allocated per word but the word's own strings, short enough for most words to live inside
// them; the bookkeeping of a pass lives in thread-local buffers that keep their room, and a
// caller that reads many texts into one result keeps the room of its words too.
#include "textsearch/words/words.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>

#include "textsearch/words/fold.h"
#include "textsearch/words/languages.h"

namespace {

// The groups of a word read as a pair of characters and of a run of one character.
constexpr uint8_t kPairedGroup = kScriptGroups;
constexpr uint8_t kLoneGroup = kScriptGroups + 1;
inline bool IsPaired(uint8_t group) {
    return group >= kPairedGroup;
}

struct TUnit {
    uint32_t begin, end;        // bytes in the text
    uint32_t foldedAt, length;  // its folded form in TPass::unitText
};

// What the first pass leaves for the second, beside the words.
struct TPass {
    std::vector<uint8_t> groups;                      // per word: TScriptGroup, kPairedGroup...
    std::array<int, 64> votes{};                      // per language: its common words seen
    std::array<int, kScriptGroups + 2> groupWords{};  // words per group
    std::string folded, bare, unitText;
    std::vector<TUnit> units;

    void Clear() {
        groups.clear();
        votes.fill(0);
        groupWords.fill(0);
    }
};

inline char32_t Decode(const uint8_t* s, int32_t& i, int32_t n) {
    if (s[i] < 0x80) return s[i++];
    UChar32 c;
    U8_NEXT(s, i, n, c);
    return c < 0 ? 0xFFFD : static_cast<char32_t>(c);  // U+FFFD separates
}

inline bool IsAsciiWordByte(uint8_t b) {
    return (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z');
}

inline bool InWord(TCharKind k) {
    return k == TCharKind::Letter || k == TCharKind::Digit || k == TCharKind::Continue;
}

class TFirstPass {
public:
    TFirstPass(std::string_view text, std::vector<TWord>& words, TPass& pass)
        : ftext(text),
          fs(reinterpret_cast<const uint8_t*>(text.data())),
          fn(static_cast<int32_t>(text.size())),
          fwords(words),
          fpass(pass) {}

    void Run() {
        fwords.reserve(fwords.size() + ftext.size() / 6 + 1);
        int32_t i = 0;
        while (i < fn) {
            // An ASCII word that ends at an ASCII separator or at the end is simply lower-cased.
            if (fs[i] < 0x80) {
                if (!IsAsciiWordByte(fs[i])) {
                    ++i;
                    continue;
                }
                int32_t end = i + 1;
                while (end < fn && IsAsciiWordByte(fs[end]))
                    ++end;
                if (end == fn || fs[end] < 0x80) {
                    AddAscii(i, end);
                    i = end;
                    continue;
                }
            }
            const int32_t begin = i;
            const TCharKind kind = finfo(Decode(fs, i, fn)).kind;
            if (kind == TCharKind::Paired) {
                i = ReadPaired(begin);
            } else if (InWord(kind)) {
                i = ReadSpaced(begin);
            }
        }
    }

private:
    const TCharTable finfo;
    std::string_view ftext;
    const uint8_t* fs;
    int32_t fn;
    std::vector<TWord>& fwords;
    TPass& fpass;

    // A joiner belongs to the word when a letter, digit or mark of the same sort follows it.
    bool JoinerContinues(int32_t after, bool paired) const {
        if (after >= fn) return false;
        const TCharKind next = finfo(Decode(fs, after, fn)).kind;
        return paired ? next == TCharKind::Paired || next == TCharKind::Continue : InWord(next);
    }

    // Returns the end of the word that begins at begin.
    int32_t ReadSpaced(int32_t begin) {
        int32_t end = begin;
        bool ascii = true;
        TScriptGroup group = TScriptGroup::None;
        for (int32_t i = begin; i < fn;) {
            const int32_t at = i;
            const char32_t c = Decode(fs, i, fn);
            const TCharInfo info = finfo(c);
            if (InWord(info.kind)) {
                if (group == TScriptGroup::None && info.kind == TCharKind::Letter)
                    group = info.group;
                ascii = ascii && c < 0x80;
                end = i;
            } else if (!(info.kind == TCharKind::Joiner && end == at &&
                         JoinerContinues(i, false))) {
                break;
            }
        }
        if (ascii) {
            AddAscii(begin, end);
            return end;
        }
        Fold(begin, end);
        if (fpass.bare.empty()) return end;
        TWord& word = fwords.emplace_back();
        word.place = {static_cast<uint32_t>(begin), static_cast<uint32_t>(end)};
        word.term = fpass.bare;
        if (fpass.folded != fpass.bare) word.exact = fpass.folded;
        Count(word, group, false);
        return end;
    }

    void AddAscii(int32_t begin, int32_t end) {
        TWord& word = fwords.emplace_back();
        word.place = {static_cast<uint32_t>(begin), static_cast<uint32_t>(end)};
        word.term.resize(static_cast<size_t>(end - begin));
        bool letter = false;
        for (int32_t k = begin; k < end; ++k) {
            const uint8_t b = fs[k];
            letter = letter || b >= 'A';
            word.term[static_cast<size_t>(k - begin)] =
                static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
        }
        Count(word, letter ? TScriptGroup::Latin : TScriptGroup::None, true);
    }

    // Folds the unit-by-unit forms of text[begin, end) into fpass.folded and fpass.bare.
    void Fold(int32_t begin, int32_t end) {
        fpass.folded.clear();
        fpass.bare.clear();
        for (int32_t i = begin; i < end;) {
            const int32_t unitBegin = i;
            const char32_t first = Decode(fs, i, end);
            const int32_t unitEnd = UnitEnd(i, end);
            AppendFoldedUnit(Slice(unitBegin, unitEnd), first, unitEnd == i, fpass.folded,
                             fpass.bare);
            i = unitEnd;
        }
    }

    // The end of the unit whose first code point ends at i.
    int32_t UnitEnd(int32_t i, int32_t end) const {
        while (i < end) {
            int32_t next = i;
            if (!finfo(Decode(fs, next, end)).continuesUnit) break;
            i = next;
        }
        return i;
    }

    std::string_view Slice(int32_t begin, int32_t end) const {
        return ftext.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
    }

    void Count(const TWord& word, TScriptGroup group, bool ascii) {
        for (TLanguageSet set = CommonWordLanguages(word.term); set != 0; set &= set - 1)
            ++fpass.votes[static_cast<size_t>(__builtin_ctzll(set))];
        if (!ascii && group == TScriptGroup::Cyrillic) {
            const std::string& folded = word.exact.empty() ? word.term : word.exact;
            const auto* s = reinterpret_cast<const uint8_t*>(folded.data());
            const auto n = static_cast<int32_t>(folded.size());
            for (int32_t i = 0; i < n;) {
                for (TLanguageSet set = LetterLanguages(Decode(s, i, n)); set != 0; set &= set - 1)
                    ++fpass.votes[static_cast<size_t>(__builtin_ctzll(set))];
            }
        }
        fpass.groups.push_back(static_cast<uint8_t>(group));
        ++fpass.groupWords[static_cast<size_t>(group)];
    }

    // Reads the run of characters of scripts without spaces that begins at begin as overlapping
    // pairs of its units; returns the run's end.
    int32_t ReadPaired(int32_t begin) {
        fpass.units.clear();
        fpass.unitText.clear();
        int32_t i = begin;
        while (i < fn) {
            const int32_t unitBegin = i;
            const char32_t first = Decode(fs, i, fn);
            const TCharKind kind = finfo(first).kind;
            if (kind == TCharKind::Joiner && JoinerContinues(i, true)) continue;
            if (kind != TCharKind::Paired && kind != TCharKind::Continue) {
                i = unitBegin;
                break;
            }
            const int32_t unitEnd = UnitEnd(i, fn);
            fpass.folded.clear();
            fpass.bare.clear();
            AppendFoldedUnit(Slice(unitBegin, unitEnd), first, unitEnd == i, fpass.folded,
                             fpass.bare);
            i = unitEnd;
            if (fpass.folded.empty()) continue;
            fpass.units.push_back({static_cast<uint32_t>(unitBegin), static_cast<uint32_t>(unitEnd),
                                   static_cast<uint32_t>(fpass.unitText.size()),
                                   static_cast<uint32_t>(fpass.folded.size())});
            fpass.unitText += fpass.folded;
        }
        const std::vector<TUnit>& units = fpass.units;
        const size_t pairs = units.size() == 1 ? 1 : units.size() - (units.empty() ? 0 : 1);
        for (size_t k = 0; k < pairs; ++k) {
            const TUnit& a = units[k];
            const TUnit& b = units.size() == 1 ? a : units[k + 1];
            TWord& word = fwords.emplace_back();
            word.place = {a.begin, b.end};
            word.term.assign(fpass.unitText, a.foldedAt, a.length);
            if (&a != &b) word.term.append(fpass.unitText, b.foldedAt, b.length);
            const uint8_t group = units.size() == 1 ? kLoneGroup : kPairedGroup;
            fpass.groups.push_back(group);
            ++fpass.groupWords[group];
        }
        return i;
    }
};

TPass& Pass() {
    thread_local TPass pass;
    pass.Clear();
    return pass;
}

// The language of a group's words: the one with most common words seen, the first on a tie; -1
// when none was seen. unique: set to whether no other language had as many.
int Told(const TPass& pass, TScriptGroup group, bool* unique = nullptr) {
    int best = -1, bestVotes = 0;
    bool alone = false;
    const std::span<const TLanguage> languages = Languages();
    for (int l = 0; l < static_cast<int>(languages.size()); ++l) {
        if (languages[l].group != group) continue;
        const int votes = pass.votes[static_cast<size_t>(l)];
        if (votes > bestVotes) {
            best = l;
            bestVotes = votes;
            alone = true;
        } else if (votes == bestVotes && votes > 0) {
            alone = false;
        }
    }
    if (unique) *unique = alone;
    return best;
}

void DropEmptyTerms(std::vector<TWord>& words) {
    std::erase_if(words, [](const TWord& w) { return w.term.empty(); });
}

void AddDistinct(std::vector<std::string>& terms, std::string term) {
    if (!term.empty() && std::find(terms.begin(), terms.end(), term) == terms.end())
        terms.push_back(std::move(term));
}

}  // namespace

TTextWords ReadWords(std::string_view utf8) {
    TTextWords result;
    ReadWords(utf8, result);
    return result;
}

void ReadWords(std::string_view utf8, TTextWords& result) {
    result.words.clear();
    result.language.clear();
    TPass& pass = Pass();
    TFirstPass(utf8, result.words, pass).Run();

    std::array<int, kScriptGroups> language{};
    for (int g = 0; g < kScriptGroups; ++g) {
        const auto group = static_cast<TScriptGroup>(g);
        if (pass.groupWords[static_cast<size_t>(g)] == 0) continue;
        const int told = Told(pass, group);
        language[static_cast<size_t>(g)] = told >= 0 ? told : DefaultLanguage(group);
    }
    bool emptied = false;
    for (size_t k = 0; k < result.words.size(); ++k) {
        const uint8_t g = pass.groups[k];
        if (IsPaired(g) || g == static_cast<uint8_t>(TScriptGroup::None)) continue;
        TWord& word = result.words[k];
        const int l = language[g];
        StemInPlace(l, word.term);
        if (!word.exact.empty()) {
            StemInPlace(l, word.exact);
            if (word.exact == word.term) word.exact.clear();
        }
        emptied = emptied || word.term.empty();
    }
    if (emptied) DropEmptyTerms(result.words);

    // The text's language is that of the script most of its words are in.
    const auto main = static_cast<size_t>(
        std::max_element(pass.groupWords.begin(), pass.groupWords.end()) - pass.groupWords.begin());
    if (main < kScriptGroups && main != static_cast<size_t>(TScriptGroup::None) &&
        pass.groupWords[main] > 0 && language[main] >= 0)
        result.language = Languages()[static_cast<size_t>(language[main])].algorithm;
}

std::vector<TQueryWord> ReadQueryWords(std::string_view utf8,
                                       std::span<const std::string> languages, bool caretAtEnd) {
    std::vector<TWord> words;
    TPass& pass = Pass();
    TFirstPass(utf8, words, pass).Run();

    // Per group: the languages to try, best guess first.
    std::array<std::vector<int>, kScriptGroups> tried;
    for (int g = 1; g < kScriptGroups; ++g) {
        const auto group = static_cast<TScriptGroup>(g);
        if (pass.groupWords[static_cast<size_t>(g)] == 0) continue;
        std::vector<int>& list = tried[static_cast<size_t>(g)];
        bool unique = false;
        const int told = Told(pass, group, &unique);
        if (told >= 0 && unique) {
            list.push_back(told);
        } else {
            for (const std::string& algorithm : languages) {
                const int l = LanguageOf(algorithm, group);
                if (l >= 0 && std::find(list.begin(), list.end(), l) == list.end())
                    list.push_back(l);
            }
        }
        const int fallback = DefaultLanguage(group);
        if (fallback >= 0 && std::find(list.begin(), list.end(), fallback) == list.end())
            list.push_back(fallback);
    }

    std::vector<TQueryWord> result;
    result.reserve(words.size());
    for (size_t k = 0; k < words.size(); ++k) {
        TWord& word = words[k];
        const uint8_t g = pass.groups[k];
        TQueryWord& q = result.emplace_back();
        q.place = word.place;
        const bool typed = caretAtEnd && k + 1 == words.size() && word.place.end == utf8.size();
        if (IsPaired(g)) {
            // A lone character still being typed begins the pairs that follow it.
            if (typed && g == kLoneGroup) q.prefix = word.term;
            q.terms.push_back(std::move(word.term));
            continue;
        }
        const std::string& bare = word.term;
        const std::string& folded = word.exact.empty() ? word.term : word.exact;
        bool first = true;
        if (g != static_cast<uint8_t>(TScriptGroup::None)) {
            for (const int l : tried[g]) {
                std::string stem = bare;
                StemInPlace(l, stem);
                AddDistinct(q.terms, stem);
                if (first && !word.exact.empty()) {
                    std::string exact = folded;
                    StemInPlace(l, exact);
                    if (exact != stem) q.exact = std::move(exact);
                }
                first = false;
            }
        }
        if (first && !word.exact.empty()) q.exact = folded;
        AddDistinct(q.terms, bare);
        if (typed) q.prefix = bare;
    }
    return result;
}

std::vector<std::string> StemmedLanguageNames() {
    std::vector<std::string> names;
    for (const TLanguage& l : Languages()) {
        if (*l.algorithm && std::find(names.begin(), names.end(), l.name) == names.end())
            names.emplace_back(l.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}
