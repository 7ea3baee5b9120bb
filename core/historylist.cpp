#include "core/historylist.h"

#include <cstdint>

#include "core/storedtext.h"
#include "port/localformat.h"
#include "textsearch/words/fold.h"

namespace {

// The code point starting at text[i], moving i past it; an ill-formed byte reads as itself
// (the texts here come from Utf8FromStored and Qt, so it never happens).
char32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (i + static_cast<size_t>(length) > text.size()) return byte(i++);
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k)
        c = (c << 6) | (byte(i + static_cast<size_t>(k)) & 0x3F);
    i += static_cast<size_t>(length);
    return c;
}

std::string_view TrimmedLine(std::string_view text) {
    const size_t end = text.find_first_of("\r\n");
    text = text.substr(0, end);
    constexpr std::string_view blanks = " \t\f\v";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The first line holding more than blanks.
std::string_view FirstFilledLine(std::string_view text) {
    while (!text.empty()) {
        const std::string_view line = TrimmedLine(text);
        if (!line.empty()) return line;
        const size_t next = text.find_first_of("\r\n");
        if (next == std::string_view::npos) break;
        text.remove_prefix(next + 1);
    }
    return {};
}

std::string Cut(std::string_view line, size_t maxChars) {
    size_t i = 0;
    for (size_t chars = 0; i < line.size() && chars < maxChars; ++chars)
        NextCodePoint(line, i);
    if (i >= line.size()) return std::string(line);
    return std::string(line.substr(0, i)) + "...";
}

// The accent-free folded form of an entry's two texts, one line apart so that no word typed
// spans both.
std::string BareTexts(const TStoredEntry& entry) {
    std::string folded, bare, solutionBare;
    FoldText(Utf8FromStored(entry.problem), folded, bare);
    FoldText(Utf8FromStored(entry.solution), folded, solutionBare);
    return bare + "\n" + solutionBare;
}

// The words typed, each in its accent-free folded form.
std::vector<std::string> TypedWords(std::string_view typed) {
    std::vector<std::string> words;
    const TCharTable info;
    std::string folded;
    size_t i = 0;
    while (i < typed.size()) {
        size_t begin = i;
        while (begin < typed.size()) {
            size_t next = begin;
            if (info(NextCodePoint(typed, next)).kind != TCharKind::Separator) break;
            begin = next;
        }
        size_t end = begin;
        while (end < typed.size()) {
            size_t next = end;
            if (info(NextCodePoint(typed, next)).kind == TCharKind::Separator) break;
            end = next;
        }
        if (end > begin) {
            std::string bare;
            folded.clear();
            FoldText(typed.substr(begin, end - begin), folded, bare);
            if (!bare.empty()) words.push_back(std::move(bare));
        }
        i = end;
    }
    return words;
}

bool HoldsAll(const std::string& bareTexts, const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (bareTexts.find(word) == std::string::npos) return false;
    }
    return true;
}

}  // namespace

std::string EntryFirstLine(const TStoredEntry& entry, size_t maxChars) {
    const std::string problem = Utf8FromStored(entry.problem);
    std::string_view line = FirstFilledLine(problem);
    if (!line.empty()) return Cut(line, maxChars);
    const std::string solution = Utf8FromStored(entry.solution);
    return Cut(FirstFilledLine(solution), maxChars);
}

std::string SavedAndChangedLine(const TEntryTexts& texts) {
    std::string line;
    if (!texts.created.empty()) {
        line = "Saved " + LabelUtf8(texts.created);
        if (!texts.savedBy.empty()) line += " by " + LabelUtf8(texts.savedBy);
    }
    if (texts.changedAt > 0) {
        line += line.empty() ? "Changed " : " \xC2\xB7 changed ";
        line += FormatDateTime(static_cast<std::time_t>(texts.changedAt));
        if (!texts.changedBy.empty()) line += " by " + LabelUtf8(texts.changedBy);
    }
    return line;
}

bool HoldsTypedWords(const TStoredEntry& entry, std::string_view typed) {
    const std::vector<std::string> words = TypedWords(typed);
    return words.empty() || HoldsAll(BareTexts(entry), words);
}

std::vector<size_t> MatchingVersions(const std::vector<TEntryVersion>& versions,
                                     std::string_view typed) {
    const std::vector<std::string> words = TypedWords(typed);
    std::vector<size_t> matching;
    for (size_t i = 0; i < versions.size(); ++i) {
        if (words.empty() || HoldsAll(BareTexts(versions[i].entry), words)) matching.push_back(i);
    }
    return matching;
}
