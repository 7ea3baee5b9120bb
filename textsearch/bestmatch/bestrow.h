// The row of a Best match hit as a person reads it: a title (the problem's first line) and an
// excerpt (the passage of the text that matched best holding the most of the typed words), both
// cut at word boundaries with "..." where cut, never inside a character, and the byte ranges of
// the matched words in the excerpt, to be drawn bold.
//
// Thread safety: plain functions of their arguments.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/words/words.h"

// Characters (code points) a title and an excerpt show at most, "..." included.
inline constexpr size_t kBestTitleChars = 60;
inline constexpr size_t kBestExcerptChars = 130;

struct TBoldRange {
    uint32_t begin = 0, end = 0;  // bytes of the excerpt
};

struct TBestRow {
    std::string title;             // UTF-8, one line
    std::string excerpt;           // UTF-8, one line
    std::vector<TBoldRange> bold;  // in order, not overlapping
};

// A query's words made ready for matching the words of many texts: a pasted text has hundreds,
// which a row would otherwise compare every word of its text with. It views the query's strings,
// which must outlive it.
class TBestRowQuery {
public:
    explicit TBestRowQuery(std::span<const TQueryWord> query);
    // Whether a text's word is one of the query's (its term, accented form or, for the word being
    // typed, beginning), and then the first query word it stands for.
    bool Match(const TWord& w, size_t& which) const;

private:
    std::unordered_map<std::string_view, size_t> fterms, fexact;  // the first word of each
    std::vector<std::pair<std::string_view, size_t>> fprefixes;    // in the query's order
};

// What an entry's row shows whatever the query: its title, and the text its excerpt is cut from
// (the one that matched, on one line) with its words read. Made once, it serves the rows of
// every query that lists the entry by that text.
struct TBestRowSource {
    std::string title;
    std::string flat;
    std::vector<uint32_t> starts;  // the byte where each character of flat begins, and its end
    TTextWords words;              // of flat
};
TBestRowSource MakeBestRowSource(TWordReader reader, const TEntryText& entry, char text);
TBestRow MakeBestRow(const TBestRowSource& source, const TBestRowQuery& query);

// The row of an entry with these texts (UTF-8) for the query; text is the hit's 'P' or 'S'.
// The matched words are those whose term, accented form or (for the word being typed) beginning
// is the query's.
TBestRow MakeBestRow(TWordReader reader, const TEntryText& entry, std::span<const TQueryWord> query,
                     char text);
TBestRow MakeBestRow(TWordReader reader, const TEntryText& entry, const TBestRowQuery& query,
                     char text);
