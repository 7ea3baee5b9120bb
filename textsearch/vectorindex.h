// TVectorIndex: the stored term vectors of a knowledge base, parsed once and indexed by term, so
// that a search scores a query against all of them without reading their texts again.
//
// A search gives, for every live document, exactly the score that Proximity(query, v) gives for
// the vector v read back from that document's stored text (SetText), bit for bit, and leaves
// out the documents for which Proximity would raise EConvertError. It gets there by reading only
// the documents' entries for the query's terms: per document, per query line in order, the same
// integer squares and products and the same float roundings that Proximity makes.
//
// Documents get the ids 0, 1, 2, ... in the order of Add; ids are never reused.
//
// Ownership: the index copies what it needs from a stored text; the caller keeps its texts.
// Thread safety: Add, AddBatch, Remove, Reserve and assignment need exclusive access. Search and
// the other const members may run concurrently with each other (a search keeps all its working
// state to itself, and may use a helper thread of its own that it joins before returning) but
// never concurrently with a change. Moving an index moves its contents; the moved-from index
// may only be assigned to or destroyed. Only allocation failure raises, and leaves the index fit
// only for destruction or assignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "port/largeroom.h"
#include "textsearch/cvvector.h"

class TVectorIndex {
public:
    using DocId = uint32_t;

    struct TMatch {
        DocId doc;
        float score;
    };
    // A search's matches: one per stored text at worst, so in room that takes huge pages.
    using TMatches = TLargeVector<TMatch>;

    // How documents are grouped and when a search uses a second thread. The defaults suit the
    // program; tests make both small to reach segment boundaries and the parallel path.
    struct TOptions {
        uint32_t segmentDocs = 16384;      // documents per segment, 1 to 65536
        size_t parallelPostings = 200000;  // postings from which a search uses two threads
    };

    TVectorIndex();
    explicit TVectorIndex(TOptions options);
    ~TVectorIndex();
    TVectorIndex(TVectorIndex&& other) noexcept;
    TVectorIndex& operator=(TVectorIndex&& other) noexcept;
    TVectorIndex(const TVectorIndex&) = delete;
    TVectorIndex& operator=(const TVectorIndex&) = delete;

    // Makes room for this many documents in all.
    void Reserve(size_t docs);

    // Parses a stored vector text (lines cut at CR LF, lone CR or lone LF, up to the first NUL)
    // and indexes it. Never fails on malformed lines: they only matter when a search uses them.
    DocId Add(std::string_view storedText);

    // Adds all texts in order, as that many calls of Add would, spreading the parsing over the
    // machine's cores. Returns the id of the first (the others follow on). A large set may come
    // in chunks of a few thousand texts, one call each: that costs about what one call costs,
    // and ends in the same memory and the same search speed.
    DocId AddBatch(std::span<const std::string_view> storedTexts);

    // Leaves the document out of later searches. Unknown or removed ids are ignored.
    void Remove(DocId id);

    // Documents added and not removed.
    size_t LiveCount() const;

    // Appends, in increasing id order, every live document whose score is greater than
    // threshold (compared as 32-bit floats), with that score.
    void Search(const TcvVector& query, float threshold, TMatches& out) const;
    // The same, the search's second thread working in scratch (emptied first) instead of room
    // the index keeps: for an owner that keeps it across changes that rebuild the index.
    void Search(const TcvVector& query, float threshold, TMatches& out, TMatches& scratch) const;

    // Bytes held by the index's own structures, for measurements.
    size_t MemoryUsage() const;

    class TImpl;

private:
    std::unique_ptr<TImpl> fimpl;
};
