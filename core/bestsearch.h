// TBestSearch: Best match's side of the search index. It pairs the stored texts a store hands
// over (each a problem or a solution under an entry ID) into entries, keeps them in a
// TBestMatchIndex, and turns a typed query into a pass of at most a few hundred rows, one an
// entry, each with its title, its excerpt and the words to draw bold there.
//
// A text comes with its terms as the store keeps them beside it (TTextTerms, encoded), or whole,
// and then its words are read. An entry is indexed with the texts it has: one that gets its other
// text later (a colleague's write) is indexed again with both. Texts without their text row are
// never shown, so they are not kept.
//
// Texts for the rows: given a reader of the store's texts, the index keeps no text and reads back
// the texts of the entries a pass lists, in one call per pass; without one (tests, benchmarks) it
// keeps every text, as UTF-8, whole.
//
// Ownership: a pass copies what its rows show into room of its own.
// Thread safety: none of its own (but for the rows' sources kept from pass to pass, which have a
// lock); the owner serialises changes against Search, which may run beside other Searches when
// the reader allows it (the stores' readers need the owner's lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/bestmatch/bestrow.h"

struct TSearchPass;

// Calls each(ID, texttype, stored text) for every text row of the entries named, in the order
// of the rows (the first of a type is the entry's, as the description lookup finds it).
using TStoredTextVisit =
    std::function<void(std::string_view ID, std::string_view texttype, std::string_view stored)>;
using TEntryTextReader =
    std::function<void(std::span<const std::string_view> IDs, const TStoredTextVisit& each)>;

// The terms of a text read from its words, for the store to keep beside it: under the store's
// key for the text, with the text's ID, type and stored size, which say whether they still
// belong to it.
struct TReadTerms {
    int64_t key = 0;
    std::string ID;
    std::string texttype;
    uint64_t bytes = 0;
    std::string terms;  // EncodeTextTerms
};

class TBestSearch {
public:
    // One text to take in: its store key, entry ID, type ("P" or "S") and its stored form
    // whole; or, instead of the text, its encoded terms (then `stored` is not read).
    struct TText {
        int64_t key = 0;
        std::string_view ID;
        std::string_view texttype;
        std::string_view stored;
        std::optional<std::string_view> terms;
    };

    TBestSearch();
    ~TBestSearch();
    TBestSearch(const TBestSearch&) = delete;
    TBestSearch& operator=(const TBestSearch&) = delete;

    // The store's texts for the rows of passes; set before any text is added. Without one, the
    // texts are kept.
    void SetTextReader(TEntryTextReader reader) { freader = std::move(reader); }
    // Whether the terms of texts read from their words are kept for TakeReadTerms.
    void CollectReadTerms(bool collect) { fcollect = collect; }
    std::vector<TReadTerms> TakeReadTerms() { return std::move(fread); }

    void Clear();
    // Takes texts in; a text of a type the entry has already replaces it. An entry changed
    // leaves the searches until it is indexed: at Settle, or, during a load, as soon as it and
    // every entry first seen before it are complete.
    void Add(std::span<const TText> texts);
    // Leaves one text of an entry, or the whole entry, out of later searches.
    void RemoveText(std::string_view ID, std::string_view texttype);
    void RemoveEntry(std::string_view ID);
    // Between the two, the index's removals wait and then go in one pass over its lists (an
    // entry's terms without its texts are found by reading every list).
    void HoldRemovals();
    void FlushRemovals();
    // Indexes every entry added or changed since the last call. The owner calls it once a load,
    // a sync or a write is complete.
    void Settle();

    // Everything indexed, for Restore in a later run (TBestMatchIndex::Save); false, writing
    // nothing, while changes wait for Settle or when texts are kept (no reader).
    bool Save(TImageWriter& out) const;
    // Replaces everything by what Save wrote. REQUIRES: the reader is set. False, leaving
    // nothing, when the bytes are not such an image.
    bool Restore(TImageReader& in);

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
    // A text waiting to be indexed: its encoded terms, or its text (UTF-8) whose words are to be
    // read, or, with neither, to be read back from the store.
    struct TPending {
        std::string terms;
        std::string utf8;
        bool hasTerms = false, hasText = false;
        int64_t key = 0;
        uint64_t bytes = 0;  // of the stored text
    };
    struct TEntry {
        std::string ID;
        std::string problem, solution;  // UTF-8; kept only without a reader
        bool hasProblem = false, hasSolution = false;
        std::unique_ptr<TPending> pending[2];  // problem, solution
        uint32_t doc = kNoEntryDoc;
        bool dirty = false;  // waits to be indexed
    };
    static constexpr uint32_t kNoEntryDoc = UINT32_MAX;

    // Takes the entry out of the index (when in it), to be indexed again with the texts it has
    // then.
    void Unindex(size_t place);
    // Whether every text the entry has is at hand to be indexed.
    bool Complete(const TEntry& entry) const;
    // Indexes these entries (places, increasing), reading back what only the store has.
    void IndexEntries(std::span<const size_t> places);

    // The key of a row's source: the entry's ID and the text it was listed by.
    static std::string SourceKey(std::string_view ID, char text);

    std::unique_ptr<TBestMatchIndex> findex;
    // The sources of the last pass's rows (bestrow.h) by SourceKey: the next pass, a keystroke
    // later, lists most of the same entries by the same texts. An entry's go as it changes.
    mutable std::mutex fsourcesLock;
    mutable std::unordered_map<std::string, std::shared_ptr<const TBestRowSource>>
        fsources;  // guarded by fsourcesLock
    TEntryTextReader freader;
    bool fcollect = false;
    std::vector<TReadTerms> fread;
    std::vector<std::unique_ptr<TEntry>> fentries;  // in the order first seen; null once gone
    // entry ID (the entry's own) -> place in fentries
    std::unordered_map<std::string_view, size_t> fbyID;
    std::vector<size_t> fentryOfDoc;  // index doc id -> place in fentries
    std::vector<size_t> fdirty;       // places of the entries waiting, in the order they became so
    bool fholding = false;            // removals wait in fheld
    std::vector<uint32_t> fheld;      // index doc ids
    // IndexEntries' room, kept from call to call: terms counted from texts, and every text's
    // terms as the index takes them.
    std::vector<TTextTerms> fcounted;
    std::vector<TTextTermsView> fviews;
    size_t funtrimmed = 0;  // entries indexed since the index's lists were last trimmed
};
