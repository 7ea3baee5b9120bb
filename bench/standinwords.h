// English words for Best match until the Unicode word reader lands: runs of ASCII letters and
// digits, lower-cased and reduced by the Porter stemmer Classic uses, every other byte a
// separator. Same contract as ReadWords / ReadQueryWords in textsearch/words/words.h, for English
// text only: no accents (`exact` stays empty) and one term per query word.
//
// Thread safety: plain functions of their arguments.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "textsearch/words/words.h"

TTextWords StandInReadWords(std::string_view utf8);
std::vector<TQueryWord> StandInReadQueryWords(std::string_view utf8,
                                              std::span<const std::string> languages,
                                              bool caretAtEnd);
