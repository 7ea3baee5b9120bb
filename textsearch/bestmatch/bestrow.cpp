// A row works in characters for its lengths and in bytes for its cuts: every cut falls where a
// word begins or ends (the reader's places), or, in a run with no such place near, at the start
// of a character.
#include "textsearch/bestmatch/bestrow.h"

#include <algorithm>

namespace {

constexpr std::string_view kEllipsis = "...";
// Characters of context an excerpt keeps before its first matched word, at most.
constexpr size_t kLeadChars = 30;

// Byte offsets of every character's start, and the text's size at the end.
std::vector<uint32_t> CharStarts(std::string_view text) {
    std::vector<uint32_t> starts;
    for (uint32_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    starts.push_back(static_cast<uint32_t>(text.size()));
    return starts;
}

// The character index at or after byte b.
size_t CharAt(const std::vector<uint32_t>& starts, uint32_t b) {
    return static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), b) - starts.begin());
}

// The text as one line: every control byte (codes below 32) becomes a space, so byte offsets
// stay as they were.
std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    return out;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

// The greatest word end in (from, limit], or limit (a character's start) when no word ends there.
uint32_t CutBefore(const TTextWords& words, uint32_t from, uint32_t limit) {
    uint32_t best = 0;
    for (const TWord& w : words.words)
        if (w.place.end > from && w.place.end <= limit) best = std::max(best, w.place.end);
    return best > 0 ? best : limit;
}

std::string Title(TWordReader reader, std::string_view problem) {
    const std::string_view line = TrimBlanks(problem.substr(0, FirstLineEnd(problem)));
    const std::vector<uint32_t> starts = CharStarts(line);
    const size_t chars = starts.size() - 1;
    if (chars <= kBestTitleChars) return std::string(line);
    const uint32_t limit = starts[kBestTitleChars - kEllipsis.size()];
    TTextWords words;
    reader(line, words);
    const uint32_t cut = CutBefore(words, 0, limit);
    return std::string(TrimBlanks(line.substr(0, cut))) + std::string(kEllipsis);
}

}  // namespace

TBestRowQuery::TBestRowQuery(std::span<const TQueryWord> query) {
    for (size_t q = 0; q < query.size(); ++q) {
        const TQueryWord& word = query[q];
        for (const std::string& t : word.terms)
            fterms.try_emplace(t, q);
        if (!word.exact.empty()) fexact.try_emplace(word.exact, q);
        if (!word.prefix.empty()) fprefixes.emplace_back(word.prefix, q);
    }
}

bool TBestRowQuery::Match(const TWord& w, size_t& which) const {
    size_t first = SIZE_MAX;
    if (const auto it = fterms.find(w.term); it != fterms.end()) first = it->second;
    if (!w.exact.empty())
        if (const auto it = fexact.find(w.exact); it != fexact.end())
            first = std::min(first, it->second);
    for (const auto& [prefix, q] : fprefixes) {
        if (q >= first) break;
        if (w.term.starts_with(prefix)) first = q;
    }
    if (first == SIZE_MAX) return false;
    which = first;
    return true;
}

TBestRow MakeBestRow(TWordReader reader, const TEntryText& entry, std::span<const TQueryWord> query,
                     char text) {
    return MakeBestRow(reader, entry, TBestRowQuery(query), text);
}

TBestRow MakeBestRow(TWordReader reader, const TEntryText& entry, const TBestRowQuery& query,
                     char text) {
    return MakeBestRow(MakeBestRowSource(reader, entry, text), query);
}

TBestRowSource MakeBestRowSource(TWordReader reader, const TEntryText& entry, char text) {
    TBestRowSource out;
    out.title = Title(reader, entry.problem);
    // The title shows the problem's first line already: a problem's excerpt comes from the lines
    // after it, and a problem of one line shows the solution instead.
    const std::string_view problemBody = entry.problem.substr(
        std::min<size_t>(entry.problem.size(), FirstLineEnd(entry.problem)));
    std::string_view source = text == 'S' ? entry.solution : problemBody;
    if (TrimBlanks(source).empty()) source = text == 'S' ? problemBody : entry.solution;
    if (TrimBlanks(source).empty()) source = entry.problem;
    out.flat = OneLine(source);
    out.starts = CharStarts(out.flat);
    reader(out.flat, out.words);
    return out;
}

TBestRow MakeBestRow(const TBestRowSource& source, const TBestRowQuery& query) {
    TBestRow row;
    row.title = source.title;
    const std::string& flat = source.flat;
    const std::vector<uint32_t>& starts = source.starts;
    const TTextWords& words = source.words;

    // The matched words, and which query word each stands for.
    struct TMatched {
        uint32_t begin, end;
        size_t first, last;  // characters
        size_t query;
    };
    std::vector<TMatched> matched;
    for (const TWord& w : words.words) {
        size_t q = 0;
        if (query.Match(w, q))
            matched.push_back(TMatched{w.place.begin, w.place.end, CharAt(starts, w.place.begin),
                                       CharAt(starts, w.place.end), q});
    }

    // The window of kBestExcerptChars holding the most distinct query words, then the most
    // matches, the earliest of those. The window's end only moves on as its start does, so the
    // words in it are counted as they come in and go out.
    const size_t room = kBestExcerptChars - 2 * kEllipsis.size();
    size_t bestStart = 0, bestDistinct = 0, bestCount = 0, bestSpan = 0;
    size_t queries = 0;
    for (const TMatched& m : matched)
        queries = std::max(queries, m.query + 1);
    std::vector<uint32_t> inWindow(queries, 0);
    size_t last = 0;  // one past the window's last match
    size_t distinct = 0;
    for (size_t i = 0; i < matched.size(); ++i) {
        last = std::max(last, i);
        for (; last < matched.size() && matched[last].last - matched[i].first <= room; ++last)
            if (inWindow[matched[last].query]++ == 0) ++distinct;
        const size_t count = last - i;
        if (distinct > bestDistinct || (distinct == bestDistinct && count > bestCount)) {
            bestStart = i;
            bestDistinct = distinct;
            bestCount = count;
            bestSpan = count > 0 ? matched[last - 1].last - matched[i].first : 0;
        }
        if (count > 0 && --inWindow[matched[i].query] == 0) --distinct;
    }

    const size_t chars = starts.size() - 1;
    size_t firstChar = 0;
    if (!matched.empty()) {
        const size_t lead = std::min(kLeadChars, (room - std::min(room, bestSpan)) / 2);
        firstChar = matched[bestStart].first - std::min(matched[bestStart].first, lead);
    }
    // Begin where a word begins at or after firstChar (no earlier than the matched word).
    uint32_t begin = starts[firstChar];
    if (firstChar > 0) {
        uint32_t wordBegin = matched.empty() ? begin : matched[bestStart].begin;
        for (const TWord& w : words.words)
            if (w.place.begin >= begin && w.place.begin < wordBegin) {
                wordBegin = w.place.begin;
                break;
            }
        begin = wordBegin;
    }
    const size_t beginChar = CharAt(starts, begin);
    const bool cutFront = TrimBlanks(flat.substr(0, begin)).size() > 0;
    const size_t endRoom = room + (cutFront ? 0 : kEllipsis.size());
    uint32_t end = static_cast<uint32_t>(flat.size());
    bool cutBack = false;
    if (chars - beginChar > endRoom) {
        end = CutBefore(words, begin, starts[beginChar + endRoom]);
        cutBack = true;
    }
    std::string_view body = std::string_view(flat).substr(begin, end - begin);
    // Trim blanks, keeping track of where the body now begins.
    while (!body.empty() && static_cast<unsigned char>(body.front()) <= 32) {
        body.remove_prefix(1);
        ++begin;
    }
    body = TrimBlanks(body);
    if (cutFront) row.excerpt = kEllipsis;
    const uint32_t shift = static_cast<uint32_t>(row.excerpt.size());
    row.excerpt += body;
    if (cutBack) row.excerpt += kEllipsis;
    for (const TMatched& m : matched)
        if (m.begin >= begin && m.end <= begin + body.size())
            row.bold.push_back(TBoldRange{m.begin - begin + shift, m.end - begin + shift});
    return row;
}
