#include "textsearch/vectorindex/segment.h"

namespace vindex {

namespace {

bool AnyDead(const std::vector<uint8_t>& dead, DocId begin, DocId end) {
    const auto last = dead.begin() + end;
    return std::find(dead.begin() + begin, last, uint8_t{1}) != last;
}

bool IsBig(int32_t count) {
    return count >= kBigCount || count == kMalformed;
}

}  // namespace

// Adds the live postings of source to the counters.
void TSegmentWriter::Count(const TSegment& source, const std::vector<uint8_t>& dead) {
    const bool anyDead = AnyDead(dead, source.base, source.base + source.docCount);
    const uint8_t* const gone = dead.data() + source.base;
    for (size_t i = 0; i < source.directory.size(); ++i) {
        const TSegment::TRuns runs = source.RunsAt(i);
        uint32_t ones = runs.onesEnd - runs.onesBegin;
        uint32_t counted = runs.countedEnd - runs.countedBegin;
        if (anyDead) {
            for (uint32_t k = runs.onesBegin; k < runs.onesEnd; ++k)
                ones -= gone[source.ones[k]];
            for (uint32_t k = runs.countedBegin; k < runs.countedEnd; ++k)
                counted -= gone[source.countedDocs[k]];
        }
        if (ones + counted == 0) continue;
        TListSizes& c = fcursors[source.directory[i].term];
        c.ones += ones;
        c.counted += counted;
    }
}

// Moves the live postings of source to their places in segment, which begins at base.
void TSegmentWriter::Copy(const TSegment& source, DocId base, const std::vector<uint8_t>& dead,
                          TSegment& segment) {
    const bool anyDead = AnyDead(dead, source.base, source.base + source.docCount);
    const uint8_t* const gone = dead.data() + source.base;
    const uint32_t delta = source.base - base;
    auto big = source.bigs.begin();
    for (size_t i = 0; i < source.directory.size(); ++i) {
        const TSegment::TRuns runs = source.RunsAt(i);
        // Taken at the first live posting: a term that only removed documents had may never
        // have been met.
        TListSizes* c = nullptr;
        const auto cursor = [&]() -> TListSizes& {
            if (c == nullptr) c = &fcursors.Met(source.directory[i].term);
            return *c;
        };
        for (uint32_t k = runs.onesBegin; k < runs.onesEnd; ++k) {
            const uint16_t offset = source.ones[k];
            if (anyDead && gone[offset]) continue;
            segment.ones[cursor().ones++] = static_cast<uint16_t>(offset + delta);
        }
        for (uint32_t k = runs.countedBegin; k < runs.countedEnd; ++k) {
            const uint16_t offset = source.countedDocs[k];
            const uint8_t count = source.counts[k];
            const int32_t bigCount = count == kBigCount ? (big++)->count : 0;
            if (anyDead && gone[offset]) continue;
            const uint32_t pos = cursor().counted++;
            segment.countedDocs[pos] = static_cast<uint16_t>(offset + delta);
            segment.counts[pos] = count;
            if (count == kBigCount) segment.bigs.push_back({pos, bigCount});
        }
    }
}

TSegment TSegmentWriter::Write(DocId base, uint32_t docs, std::span<const TSegment* const> sources,
                               const TTail* tail, const std::vector<uint8_t>& dead) {
    // Count every term's postings, then lay the terms out in order and move the postings to
    // their places. The tail has counted its own.
    DocId tailBase = base;
    for (const TSegment* source : sources) {
        Count(*source, dead);
        tailBase += source->docCount;
    }
    const std::span<const TTailPosting> postings =
        tail != nullptr ? tail->Postings() : std::span<const TTailPosting>();
    if (tail != nullptr) {
        for (const uint32_t term : tail->Sizes().Terms()) {
            const TListSizes& sizes = tail->Sizes().At(term);
            TListSizes& c = fcursors[term];
            c.ones += sizes.ones;
            c.counted += sizes.counted;
        }
    }
    const bool tailDead = AnyDead(dead, tailBase, base + docs);
    if (tailDead) {
        for (const TTailPosting& p : postings) {
            if (dead[p.doc])
                --(p.count == 1 ? fcursors.Met(p.term).ones : fcursors.Met(p.term).counted);
        }
    }

    std::vector<uint32_t>& terms = fcursors.Terms();
    std::sort(terms.begin(), terms.end());
    terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
    TSegment segment;
    segment.base = base;
    segment.docCount = docs;
    segment.directory.reserve(terms.size());
    uint32_t ones = 0;
    uint32_t counted = 0;
    for (const uint32_t term : terms) {
        TListSizes& c = fcursors.Met(term);
        if (c.ones + c.counted == 0) continue;  // only removed documents had it
        segment.directory.push_back({term, ones, counted});
        ones += c.ones;
        counted += c.counted;
        c = {segment.directory.back().ones, segment.directory.back().counted};
    }
    segment.directory.shrink_to_fit();
    segment.ones.resize(ones);
    segment.countedDocs.resize(counted);
    segment.counts.resize(counted);

    for (const TSegment* source : sources)
        Copy(*source, base, dead, segment);
    for (const TTailPosting& p : postings) {
        if (tailDead && dead[p.doc]) continue;
        TListSizes& c = fcursors.Met(p.term);
        const uint16_t offset = static_cast<uint16_t>(p.doc - base);
        if (p.count == 1) {
            segment.ones[c.ones++] = offset;
            continue;
        }
        const uint32_t pos = c.counted++;
        segment.countedDocs[pos] = offset;
        if (IsBig(p.count)) {
            segment.counts[pos] = kBigCount;
            segment.bigs.push_back({pos, p.count});
        } else {
            segment.counts[pos] = static_cast<uint8_t>(p.count);
        }
    }

    fcursors.Clear();
    const auto byPos = [](const TBigCount& a, const TBigCount& b) { return a.pos < b.pos; };
    if (!std::is_sorted(segment.bigs.begin(), segment.bigs.end(), byPos))
        std::sort(segment.bigs.begin(), segment.bigs.end(), byPos);
    segment.bigs.shrink_to_fit();
    segment.liveAtBuild = docs - static_cast<uint32_t>(std::count(
                                     dead.begin() + base, dead.begin() + base + docs, uint8_t{1}));
    return segment;
}

}  // namespace vindex
