// TBestSearch: Best match's side of the search index. It pairs the stored texts a store hands
// over (each a problem or a solution under an entry ID, whole) into entries, keeps them in a
// TBestMatchIndex, and turns a typed query into a pass of at most a few hundred rows, one an
// entry, each with its title, its excerpt and the words to draw bold there.
//
// An entry is indexed with the texts it has: one that gets its other text later (the next batch
// of a load, a colleague's write) is indexed again with both. Texts without their text row are
// never shown, so they are not kept.
//
// Ownership: the texts are kept as UTF-8, whole, since an excerpt may come from anywhere in them;
// a pass copies what its rows show into room of its own.
// Thread safety: none of its own; the owner serialises changes against Search, which may run
// beside other Searches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "textsearch/bestmatch/bestmatchindex.h"

struct TSearchPass;

class TBestSearch {
public:
    // One text to take in: its entry ID, its type ("P" or "S") and its stored form, whole.
    struct TText {
        std::string_view ID;
        std::string_view texttype;
        std::string_view stored;
    };

    TBestSearch();
    ~TBestSearch();
    TBestSearch(const TBestSearch&) = delete;
    TBestSearch& operator=(const TBestSearch&) = delete;

    void Clear();
    // Takes texts in; a text of a type the entry has already replaces it. An entry changed
    // leaves the searches until Settle.
    void Add(std::span<const TText> texts);
    // Leaves one text of an entry, or the whole entry, out of later searches.
    void RemoveText(std::string_view ID, std::string_view texttype);
    void RemoveEntry(std::string_view ID);
    // Indexes every entry added or changed since the last call. The owner calls it once a load,
    // a sync or a write is complete.
    void Settle();

    // Entries that later searches visit.
    size_t LiveCount() const { return findex->LiveCount(); }
    // The languages of the entries held (Snowball algorithm names), most entries first.
    std::vector<std::string> Languages() const;
    size_t MemoryUsage() const;

    // The rows for a typed problem (stored form); caretAtEnd: the caret stands right after its
    // last word, which then also matches the stored words it begins.
    std::unique_ptr<TSearchPass> Search(std::string_view storedQuery, bool caretAtEnd) const;

    const TBestMatchIndex& Index() const { return *findex; }

private:
    struct TEntry {
        std::string ID;
        std::string problem, solution;  // UTF-8
        bool hasProblem = false, hasSolution = false;
        uint32_t doc = kNoEntryDoc;
        bool dirty = false;  // waits for Settle
    };
    static constexpr uint32_t kNoEntryDoc = UINT32_MAX;

    // Takes the entry out of the index (when in it), for Settle to put back with the texts it
    // has then.
    void Unindex(size_t place);

    std::unique_ptr<TBestMatchIndex> findex;
    std::vector<std::unique_ptr<TEntry>> fentries;  // in the order first seen; null once gone
    // entry ID (the entry's own) -> place in fentries
    std::unordered_map<std::string_view, size_t> fbyID;
    std::vector<size_t> fentryOfDoc;  // index doc id -> place in fentries
    std::vector<size_t> fdirty;       // places of the entries waiting for Settle
};
