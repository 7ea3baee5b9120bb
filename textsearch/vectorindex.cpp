// The vector index: a term dictionary (vectorindex/termdictionary.h), segments of documents by
// term (vectorindex/segment.h) made by a segment builder from the newest documents
// (vectorindex/segmentbuilder.h), large batches parsed on two threads
// (vectorindex/batchbuilder.h), and the search over all of it (vectorindex/indexsearch.h).
// This file keeps them together and keeps count of removed documents.
#include "textsearch/vectorindex.h"

#include <algorithm>
#include <thread>

#include "textsearch/keptroom.h"
#include "textsearch/vectorindex/batchbuilder.h"
#include "textsearch/vectorindex/indexsearch.h"
#include "textsearch/vectorindex/segment.h"
#include "textsearch/vectorindex/segmentbuilder.h"
#include "textsearch/vectorindex/termdictionary.h"

class TVectorIndex::TImpl {
public:
    explicit TImpl(TOptions options)
        : fsegmentDocs(std::clamp<uint32_t>(options.segmentDocs, 1, vindex::kMaxSegmentDocs)),
          fparallelPostings(options.parallelPostings),
          fbuilder(fsegmentDocs, fsegments, fdead) {}
    // The builder refers to the segments and the removal marks: the index lives where it was
    // made.
    TImpl(const TImpl&) = delete;
    TImpl& operator=(const TImpl&) = delete;

    void Reserve(size_t docs) { fdead.reserve(docs); }

    DocId Add(std::string_view text) {
        const DocId id = static_cast<DocId>(fdead.size());
        fdead.push_back(0);
        ++flive;
        fbuilder.Add(text, fdictionary);
        return id;
    }

    DocId AddBatch(std::span<const std::string_view> texts) {
        const DocId first = static_cast<DocId>(fdead.size());
        fdead.resize(fdead.size() + texts.size(), 0);
        flive += texts.size();
        if (texts.size() >= vindex::kMinParallelBatch && std::thread::hardware_concurrency() >= 2) {
            vindex::AddInParallel(texts, fdictionary, fbuilder);
        } else {
            for (const std::string_view text : texts)
                fbuilder.Add(text, fdictionary);
        }
        fbuilder.EndBatch(texts.size());
        return first;
    }

    void Remove(DocId id) {
        if (id >= fdead.size() || fdead[id]) return;
        fdead[id] = 1;
        --flive;
        // A document still in the tail loses its postings when its segment is written.
        if (id >= fbuilder.TailBase()) return;
        vindex::TSegment& segment = SegmentOf(id);
        // Drop the postings of removed documents once they are as many as the live ones, so
        // that removing does not leave memory behind.
        if (++segment.deadDocs * 2 > segment.liveAtBuild) fbuilder.Compact(segment);
    }

    size_t LiveCount() const { return flive; }

    size_t MemoryUsage() const {
        size_t bytes = fdictionary.MemoryUsage() + fdead.capacity() + fbuilder.MemoryUsage() +
                       fsegments.capacity() * sizeof(vindex::TSegment);
        for (const vindex::TSegment& s : fsegments)
            bytes += s.MemoryUsage();
        return bytes;
    }

    void Search(const TcvVector& query, float threshold, TMatches& out) const {
        TMatches scratch = fscratch.Take();
        Search(query, threshold, out, scratch);
        fscratch.Give(scratch);
    }
    void Search(const TcvVector& query, float threshold, TMatches& out, TMatches& scratch) const {
        const vindex::TIndexView view{fdictionary,         fsegments,       fbuilder.Tail(),
                                      fbuilder.TailBase(), fbuilder.Next(), fdead,
                                      fparallelPostings};
        vindex::Search(view, query, threshold, out, scratch);
    }

private:
    vindex::TSegment& SegmentOf(DocId id) {
        auto it = std::upper_bound(fsegments.begin(), fsegments.end(), id,
                                   [](DocId d, const vindex::TSegment& s) { return d < s.base; });
        return *(it - 1);
    }

    const uint32_t fsegmentDocs;
    const size_t fparallelPostings;
    vindex::TTermDictionary fdictionary;
    std::vector<uint8_t> fdead;  // per document id
    size_t flive = 0;
    std::vector<vindex::TSegment> fsegments;  // ascending base, covering the ids below the tail
    vindex::TSegmentBuilder fbuilder;         // the tail, over fsegments and fdead
    mutable TKeptRoom<TMatch> fscratch;  // a search's working room, kept for the next
};

TVectorIndex::TVectorIndex() : TVectorIndex(TOptions()) {}
TVectorIndex::TVectorIndex(TOptions options) : fimpl(std::make_unique<TImpl>(options)) {}
TVectorIndex::~TVectorIndex() = default;
TVectorIndex::TVectorIndex(TVectorIndex&& other) noexcept = default;
TVectorIndex& TVectorIndex::operator=(TVectorIndex&& other) noexcept = default;

void TVectorIndex::Reserve(size_t docs) {
    fimpl->Reserve(docs);
}

TVectorIndex::DocId TVectorIndex::Add(std::string_view storedText) {
    return fimpl->Add(storedText);
}

TVectorIndex::DocId TVectorIndex::AddBatch(std::span<const std::string_view> storedTexts) {
    return fimpl->AddBatch(storedTexts);
}

void TVectorIndex::Remove(DocId id) {
    fimpl->Remove(id);
}

size_t TVectorIndex::LiveCount() const {
    return fimpl->LiveCount();
}

size_t TVectorIndex::MemoryUsage() const {
    return fimpl->MemoryUsage();
}

void TVectorIndex::Search(const TcvVector& query, float threshold, TMatches& out) const {
    fimpl->Search(query, threshold, out);
}

void TVectorIndex::Search(const TcvVector& query, float threshold, TMatches& out,
                          TMatches& scratch) const {
    fimpl->Search(query, threshold, out, scratch);
}
