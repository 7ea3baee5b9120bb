// What the history windows list and how they find in it: the line a version or a deleted entry is
// listed by, the line that tells who saved and changed an entry, and the filter of the deleted
// entries by the words typed.
//
// Thread safety: plain functions of their arguments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/entryhistory.h"

// The first line of an entry as UTF-8, blanks trimmed: its problem's, or its solution's when the
// problem holds none; at most maxChars characters, "..." marking a cut.
std::string EntryFirstLine(const TStoredEntry& entry, size_t maxChars = 80);

// "Saved <created> by <who> · changed <when> by <who>" (UTF-8), with the parts the knowledge base
// records of the entry; "" when it records none.
std::string SavedAndChangedLine(const TEntryTexts& texts);

// Whether every word typed (UTF-8; words as the search reads them, separated by blanks and
// punctuation) stands in the entry's problem or solution, case and accents aside; a word typed
// may be the start or a part of a stored word. Nothing typed: true.
bool HoldsTypedWords(const TStoredEntry& entry, std::string_view typed);
// The places in versions of those that hold every word typed, in their order.
std::vector<size_t> MatchingVersions(const std::vector<TEntryVersion>& versions,
                                     std::string_view typed);
