// The search of the vector index.
//
// Per segment, term at a time in the order of the query's lines, every posting updates its
// document's accumulators: the sum of squares (double) and the dot product (float, rounded
// after each addition), exactly as QueryMagnitude and DotProduct do for that document, since a
// term the document lacks adds exactly 0 there. The accumulators of one segment stay in the
// cache. Then the segment's documents are scored in id order. Large searches split the segments
// between two threads and join the results in order. The tail is in document order: one pass
// sorts its postings of the query's terms into one list per term, which are then added up in
// the order of the query's lines.
//
// Most segments take a shorter way to the same sums. Every addend is a whole number, and none is
// negative, so each partial sum is at most the final one: when a document's final dot product
// is at most 2^24, every float sum on the way was exact, and so was every double sum of squares
// below 2^53. Such a segment adds both in one 64-bit integer per document (squares in the low
// half, the dot product in the high), one addition a posting; a segment where a posting of the
// query's terms has a count of 255 or more, or a document's dot product comes out above 2^24, is
// added up the long way.
//
// Thread safety: searches may run concurrently with each other, never with a change.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "textsearch/cvvector.h"
#include "textsearch/vectorindex.h"
#include "textsearch/vectorindex/segment.h"
#include "textsearch/vectorindex/termdictionary.h"

namespace vindex {

// What a search reads.
struct TIndexView {
    const TTermDictionary& dictionary;
    const std::vector<TSegment>& segments;  // ascending base, covering the ids below the tail
    std::span<const TTailPosting> tail;
    DocId tailBase;
    DocId tailEnd;
    const std::vector<uint8_t>& dead;  // per document id
    size_t parallelPostings;           // postings from which the search uses two threads
};

// Appends, in increasing id order, every live document whose score is greater than threshold.
// scratch is working room, whatever it holds; a search on two threads leaves part of its matches
// there, so room kept from one search to the next saves fresh pages.
void Search(const TIndexView& index, const TcvVector& query, float threshold,
            TVectorIndex::TMatches& out, TVectorIndex::TMatches& scratch);

}  // namespace vindex
