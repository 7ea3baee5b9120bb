// One search hit: a stored problem or solution text that scored above the threshold against the
// typed problem. A plain record.
//
// Ownership: the texts are views into the search snapshot that produced the hit (its entry IDs,
// titles and excerpts, which never change once loaded); whoever owns the hits also keeps that
// snapshot alive (see searchindex.h), so a hit stays readable as long as it exists.
#pragma once

#include <string_view>

struct TcvResults {
    std::string_view ID;           // entry ID of the matching text
    std::string_view Title;        // its first 40 characters followed by "..."
    std::string_view URI;          // not used by this program: empty
    std::string_view excerpt;      // its characters 41 to 140, trimmed
    float Proximity = 0;           // the score, above the search threshold
    const void* source = nullptr;  // not used by this program: empty
};
