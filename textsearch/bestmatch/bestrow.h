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

// The row of an entry with these texts (UTF-8) for the query; text is the hit's 'P' or 'S'.
// The matched words are those whose term, accented form or (for the word being typed) beginning
// is the query's.
TBestRow MakeBestRow(TWordReader reader, const TEntryText& entry, std::span<const TQueryWord> query,
                     char text);
