// Segments: the postings of a run of consecutive documents, by term.
//
// Entries. Of a document's lines only the first line with each term counts, and its count is
// what Proximity would convert: "0" followed by the line's value, a number from 0 to INT32_MAX
// or malformed (kMalformed). An entry of 0 adds exactly nothing to a score, so it is not stored.
//
// Layout. A segment stores, per term, the documents whose count is 1 (2 bytes of document
// offset each: most entries are 1, and their count need not be stored) and then the documents
// with any other count (2 bytes of offset and 1 byte of count; counts of 255 and more, and
// malformed ones, sit in a side list). Both lists are laid out in the order of the directory,
// which is sorted by term, so a term's lists end where the next term's begin. A document has at
// most one posting per term, so how a term's postings are split between the lists does not
// change what any document's score adds up.
//
// TSegmentWriter makes every segment: from the newest documents' postings (in document order),
// from segments it joins into one, or from a segment whose removed documents it drops.
//
// Thread safety: a segment is read concurrently by searches; a writer belongs to one thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vindex {

using DocId = uint32_t;

inline constexpr uint32_t kMaxSegmentDocs = 65536;  // document offsets are 16 bits
// Postings from which the newest documents become a segment whatever their number, so that
// positions fit 32 bits with room to spare.
inline constexpr size_t kMaxSegmentPostings = size_t{1} << 28;
inline constexpr int32_t kMalformed = -1;
inline constexpr uint8_t kBigCount = 255;

// A posting of a document not yet in a segment: a count of 1 or more, or kMalformed.
struct TTailPosting {
    uint32_t term;
    DocId doc;
    int32_t count;
};

struct TBigCount {
    uint32_t pos;   // index of the posting in its segment's counted list
    int32_t count;  // >= kBigCount, or kMalformed
};

// Documents [base, base + docCount). Invariant: directory ascending by term; the lists of the
// directory's i-th term are [ones_i, ones_i+1) of ones and [counted_i, counted_i+1) of
// countedDocs and counts (the last term's end at the lists' ends), each ascending by offset;
// bigs ascending by pos.
struct TSegment {
    struct TEntry {
        uint32_t term;
        uint32_t ones;     // where the term's list in ones begins
        uint32_t counted;  // where its list in countedDocs and counts begins
    };
    struct TRuns {
        uint32_t onesBegin = 0;
        uint32_t onesEnd = 0;
        uint32_t countedBegin = 0;
        uint32_t countedEnd = 0;
        size_t Size() const { return (onesEnd - onesBegin) + (countedEnd - countedBegin); }
    };

    DocId base = 0;
    uint32_t docCount = 0;
    uint32_t deadDocs = 0;     // removed since the postings were last written
    uint32_t liveAtBuild = 0;  // live documents when they were written
    bool open = false;         // ended early, at the end of a batch; the next one may extend it
    std::vector<TEntry> directory;
    std::vector<uint16_t> ones;         // offsets of the documents whose count is 1
    std::vector<uint16_t> countedDocs;  // offsets of the documents with another count
    std::vector<uint8_t> counts;        // their counts; kBigCount: look in bigs
    std::vector<TBigCount> bigs;

    // The lists of the directory's i-th term.
    TRuns RunsAt(size_t i) const {
        const bool last = i + 1 == directory.size();
        return {directory[i].ones,
                last ? static_cast<uint32_t>(ones.size()) : directory[i + 1].ones,
                directory[i].counted,
                last ? static_cast<uint32_t>(countedDocs.size()) : directory[i + 1].counted};
    }

    // The lists of term, empty when the segment has none.
    TRuns Runs(uint32_t term) const {
        const auto it = std::lower_bound(directory.begin(), directory.end(), term,
                                         [](const TEntry& e, uint32_t t) { return e.term < t; });
        if (it == directory.end() || it->term != term) return {};
        return RunsAt(static_cast<size_t>(it - directory.begin()));
    }

    // The first big count at or after counted posting k.
    std::vector<TBigCount>::const_iterator BigAt(uint32_t k) const {
        return std::lower_bound(bigs.begin(), bigs.end(), k,
                                [](const TBigCount& b, uint32_t pos) { return b.pos < pos; });
    }

    size_t Postings() const { return ones.size() + countedDocs.size(); }

    size_t MemoryUsage() const {
        return directory.capacity() * sizeof(TEntry) + ones.capacity() * 2 +
               countedDocs.capacity() * 2 + counts.capacity() + bigs.capacity() * sizeof(TBigCount);
    }
};

// Per term, postings in each of a segment's lists.
struct TListSizes {
    uint32_t ones = 0;
    uint32_t counted = 0;
};

// Per-term counters that are all zero between uses, so that a use costs the terms it meets,
// not the size of the dictionary.
class TTermCounters {
public:
    TListSizes& operator[](uint32_t term) {
        if (term >= fsizes.size()) fsizes.resize(std::max<size_t>(term + 1, 2 * fsizes.size()));
        TListSizes& sizes = fsizes[term];
        if (sizes.ones + sizes.counted == 0) fterms.push_back(term);  // may be met again
        return sizes;
    }
    // REQUIRES: term was met since the last Clear.
    TListSizes& Met(uint32_t term) { return fsizes[term]; }
    const TListSizes& At(uint32_t term) const { return fsizes[term]; }
    // The terms met since the last Clear; a term may be listed more than once.
    std::vector<uint32_t>& Terms() { return fterms; }
    const std::vector<uint32_t>& Terms() const { return fterms; }
    void Clear() {
        for (const uint32_t term : fterms)
            fsizes[term] = {};
        fterms.clear();
    }
    size_t MemoryUsage() const {
        return fsizes.capacity() * sizeof(TListSizes) + fterms.capacity() * sizeof(uint32_t);
    }

private:
    std::vector<TListSizes> fsizes;
    std::vector<uint32_t> fterms;
};

// The postings of the newest documents, in document order, with the size of each term's lists
// kept up as they come, which saves the segment writer a pass over them.
class TTail {
public:
    void Add(uint32_t term, DocId doc, int32_t count) {
        fpostings.push_back({term, doc, count});
        TListSizes& sizes = fsizes[term];
        ++(count == 1 ? sizes.ones : sizes.counted);
    }
    std::span<const TTailPosting> Postings() const { return fpostings; }
    const TTermCounters& Sizes() const { return fsizes; }
    size_t Size() const { return fpostings.size(); }
    // Empties the tail; Release also gives its room back.
    void Clear() {
        fpostings.clear();
        fsizes.Clear();
    }
    void Release() {
        Clear();
        std::vector<TTailPosting>().swap(fpostings);
    }
    size_t MemoryUsage() const {
        return fpostings.capacity() * sizeof(TTailPosting) + fsizes.MemoryUsage();
    }

private:
    std::vector<TTailPosting> fpostings;
    TTermCounters fsizes;
};

// Writes segments.
class TSegmentWriter {
public:
    // The segment of documents [base, base + docs): the postings of sources (segments covering
    // consecutive documents from base on, in order) and then of tail (postings of the documents
    // after them, when given), leaving out those of documents marked in dead.
    TSegment Write(DocId base, uint32_t docs, std::span<const TSegment* const> sources,
                   const TTail* tail, const std::vector<uint8_t>& dead);

    size_t MemoryUsage() const { return fcursors.MemoryUsage(); }

private:
    void Count(const TSegment& source, const std::vector<uint8_t>& dead);
    void Copy(const TSegment& source, DocId base, const std::vector<uint8_t>& dead,
              TSegment& segment);

    // Per term: first the size of its lists, then where its next postings go.
    TTermCounters fcursors;
};

}  // namespace vindex
