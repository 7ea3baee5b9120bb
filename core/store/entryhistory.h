// What the knowledge base keeps of an entry besides its texts: the version a window read (so
// that an edit made meanwhile elsewhere is caught), who saved and last changed it, and every
// earlier version, kept when an edit or a delete replaced it, to be restored on request.
//
// The history lives in a table of its own beside the texts (file and server alike); it is never
// loaded into the search index, and a knowledge base without it (an earlier version's) opens as
// before and gains it on the first opening that may write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/knowledgestore.h"

// The version of an entry's two stored texts, as 16 hexadecimal digits: an edit that names the
// version it started from is refused when the stored texts are no longer that version.
std::string EntryVersion(std::string_view problem, std::string_view solution);

// One earlier version of an entry.
struct TEntryVersion {
    int64_t seq = 0;        // its number in the knowledge base's history; later ones are higher
    char event = 'E';       // what replaced it: 'E' an edit, 'D' the entry's delete
    int64_t at = 0;         // when it was replaced, seconds since 1970 (UTC)
    std::string who;        // who replaced it
    int64_t writtenAt = 0;  // when this version was written, where known (else 0)
    std::string writtenBy;  // who wrote it, where known
    TStoredEntry entry;     // its ID, created values and texts, as they were stored
};

// An edit started from a version that is no longer the stored one: another program or window
// changed the entry meanwhile. Nothing was written; theirs holds the entry as stored now.
class EEditConflict : public Exception {
public:
    explicit EEditConflict(TEntryTexts theirs)
        : Exception("This entry was changed on another computer after you opened it."),
          ftheirs(std::move(theirs)) {}
    const TEntryTexts& Theirs() const { return ftheirs; }

private:
    TEntryTexts ftheirs;
};

// How much the history holds (stats).
struct THistorySize {
    uint64_t versions = 0;
    uint64_t bytes = 0;    // of the texts kept
    uint64_t deleted = 0;  // entries deleted and not restored
};
