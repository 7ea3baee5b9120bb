#include "textsearch/vectorindex/segmentbuilder.h"

#include <algorithm>

namespace vindex {

namespace {

// Batches from this size (or of a whole segment) on end in a segment; smaller ones, such as a
// saved entry's, stay in the tail.
constexpr size_t kMinFrozenBatch = 256;

}  // namespace

void TSegmentBuilder::Join(size_t joined, bool open) {
    const size_t first = fsegments.size() - joined;
    const DocId base = joined == 0 ? fbase : fsegments[first].base;
    std::vector<const TSegment*> sources;
    for (size_t i = first; i < fsegments.size(); ++i)
        sources.push_back(&fsegments[i]);
    TSegment segment = fwriter.Write(base, fnext - base, sources, &ftail, fdead);
    segment.open = open;
    fsegments.resize(first);
    fsegments.push_back(std::move(segment));
    fopenCount = fopenCount - joined + (open ? 1 : 0);
    fopenPostings = 0;
    for (size_t i = fsegments.size() - fopenCount; i < fsegments.size(); ++i)
        fopenPostings += fsegments[i].Postings();
    ftail.Clear();
    fbase = fnext;
}

void TSegmentBuilder::EndBatch(size_t docs) {
    if (docs < std::min<size_t>(kMinFrozenBatch, fsegmentDocs) || fnext == fbase) return;
    size_t joined = 0;
    size_t following = fnext - fbase;
    while (joined < fopenCount) {
        const TSegment& before = fsegments[fsegments.size() - 1 - joined];
        if (before.docCount > following) break;
        following += before.docCount;
        ++joined;
    }
    Join(joined, true);
    // The next batch may be far off, or never come.
    ftail.Release();
}

void TSegmentBuilder::Compact(TSegment& segment) {
    const TSegment* const source = &segment;
    TSegment rebuilt =
        fwriter.Write(segment.base, segment.docCount, std::span(&source, 1), nullptr, fdead);
    rebuilt.open = segment.open;
    if (segment.open) fopenPostings -= segment.Postings() - rebuilt.Postings();
    segment = std::move(rebuilt);
}

}  // namespace vindex
