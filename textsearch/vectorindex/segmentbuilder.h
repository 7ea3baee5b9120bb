// The newest documents of the vector index, and the making of segments from them.
//
// Documents come with consecutive ids. Their postings wait in the tail, in document order (one
// sequential write per line), until there are enough of them for a segment of segmentDocs
// documents; the segment writer then sorts them by term.
//
// Where a batch of documents ends (EndBatch), what it leaves in the tail becomes a segment at
// once, so that no search has to sort a large tail. That segment is open: the documents that
// come next fill it up, the tail closing it together with the open segments before it when they
// make segmentDocs in all. So an index loaded in chunks ends up with the segments that one batch
// would have given it. The tail of a batch is joined with the open segments before it only while
// they are no larger than what follows them, so that loading in small chunks copies each
// document's postings a few times at most (once per doubling), never once per chunk.
//
// Thread safety: one thread at a time. During a batch parsed on two threads, the helper thread
// uses a reader of its own and touches no builder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "port/simd.h"
#include "textsearch/cvrules.h"
#include "textsearch/vectorindex/segment.h"
#include "textsearch/vectorindex/termdictionary.h"

namespace vindex {

// Reads the entries of stored texts: for each term of a text (a line name, which resolve turns
// into a term id) the count of its first line, leaving out counts of 0.
class TEntryReader {
public:
    // Calls emit(term, count) for each entry of text, the text of document doc, in line order.
    // Lines are cut at CR LF, lone CR or lone LF, up to the first NUL (as
    // cvrules::ForEachStoredLine cuts them), found together with their first '=' in one pass.
    // resolve(key) gives the term of a name's key. All the text's keys are made, and handed to
    // prefetch, before the first is resolved: a dictionary larger than the cache then looks for
    // many names at once instead of waiting for memory at every line, which was a third of the
    // time of a load.
    template <class Prefetch, class Resolve, class Emit>
    void Read(std::string_view text, DocId doc, Prefetch&& prefetch, Resolve&& resolve,
              Emit&& emit) {
        flines.clear();
        const char* p = text.data();
        const char* const end = p + text.size();
        while (p < end && *p != '\0') {
            const char* const start = p;
            const char* eq = nullptr;
            p = NextSpecial(p, end);
            while (p < end && *p == '=') {
                if (eq == nullptr) eq = p;
                p = NextSpecial(p + 1, end);
            }
            const std::string_view line(start, static_cast<size_t>(p - start));
            const std::string_view name = eq == nullptr
                                              ? std::string_view()
                                              : line.substr(0, static_cast<size_t>(eq - start));
            flines.push_back({line, TNameKey(name)});
            prefetch(flines.back().key);
            if (p < end && *p == '\r') ++p;
            if (p < end && *p == '\n') ++p;
        }
        for (const TLine& l : flines) {
            const uint32_t term = resolve(l.key);
            if (term >= fseen.size()) fseen.resize(std::max<size_t>(term + 1, 2 * fseen.size()));
            if (fseen[term] == doc + 1) continue;  // a later line with a name already seen
            fseen[term] = doc + 1;
            const auto count =
                cvrules::TryZeroPrefixed(cvrules::ValueAfter(l.line, l.key.name.size()));
            if (!count) {
                emit(term, kMalformed);
            } else if (*count != 0) {
                emit(term, *count);
            }
        }
    }

    size_t MemoryUsage() const {
        return fseen.capacity() * sizeof(uint32_t) + flines.capacity() * sizeof(TLine);
    }

private:
    struct TLine {
        std::string_view line;
        TNameKey key;  // of the line's name
    };

    // The first of '=', CR, LF and NUL in [p, end), or end.
    static const char* NextSpecial(const char* p, const char* end) {
        return FindFirstOfFour(p, end, '=', '\r', '\n', '\0');
    }

    std::vector<uint32_t> fseen;  // per term: 1 + the last document that had a line for it
    std::vector<TLine> flines;    // the lines of the text being read
};

class TSegmentBuilder {
public:
    // Builds into segments, reading which documents are removed from dead (indexed by id).
    TSegmentBuilder(uint32_t segmentDocs, std::vector<TSegment>& segments,
                    const std::vector<uint8_t>& dead)
        : fsegmentDocs(segmentDocs), fsegments(segments), fdead(dead) {}
    TSegmentBuilder(const TSegmentBuilder&) = delete;
    TSegmentBuilder& operator=(const TSegmentBuilder&) = delete;

    // The tail: documents [TailBase(), Next()), their postings in document order.
    DocId TailBase() const { return fbase; }
    DocId Next() const { return fnext; }
    std::span<const TTailPosting> Tail() const { return ftail.Postings(); }

    // Parses the next document's text and adds it; new names are entered into dictionary.
    void Add(std::string_view text, TTermDictionary& dictionary) {
        const DocId doc = fnext;
        freader.Read(
            text, doc, [&](const TNameKey& key) { dictionary.Prefetch(key); },
            [&](const TNameKey& key) { return dictionary.FindOrAdd(key); },
            [&](uint32_t term, int32_t count) { ftail.Add(term, doc, count); });
        CompleteTo(doc + 1);
    }

    // The reader for documents parsed on this thread with terms of the dictionary's numbering,
    // to be handed to Append.
    TEntryReader& Reader() { return freader; }

    // Adds the documents from Next() to end (exclusive), whose postings, in document order, are
    // given with terms that remap turns into the dictionary's.
    template <class Remap>
    void Append(std::span<const TTailPosting> postings, DocId end, Remap&& remap) {
        DocId doc = fnext;
        for (const TTailPosting& p : postings) {
            if (p.doc != doc) {
                CompleteTo(p.doc);
                doc = p.doc;
            }
            ftail.Add(remap(p.term), p.doc, p.count);
        }
        CompleteTo(end);
    }

    // Ends a batch of docs documents: unless it was small, what is left in the tail becomes an
    // open segment, and the tail gives its room back.
    void EndBatch(size_t docs);

    // Writes segment again without the postings of removed documents.
    void Compact(TSegment& segment);

    size_t MemoryUsage() const {
        return ftail.MemoryUsage() + freader.MemoryUsage() + fwriter.MemoryUsage();
    }

private:
    // The documents before next are complete: makes the segments they fill.
    void CompleteTo(DocId next) {
        while (next >= OpenBase() + fsegmentDocs) {
            fnext = OpenBase() + fsegmentDocs;
            Close();
        }
        fnext = next;
        if (ftail.Size() + fopenPostings >= kMaxSegmentPostings) Close();
    }

    // Where the open segments begin (or the tail, when there are none).
    DocId OpenBase() const {
        return fopenCount == 0 ? fbase : fsegments[fsegments.size() - fopenCount].base;
    }

    // Makes the last `joined` segments and the tail one segment, open or not.
    void Join(size_t joined, bool open);
    // The open segments and the tail become one segment, no longer open.
    void Close() { Join(fopenCount, false); }

    const uint32_t fsegmentDocs;
    std::vector<TSegment>& fsegments;  // the open ones are the last fopenCount
    const std::vector<uint8_t>& fdead;
    size_t fopenCount = 0;
    size_t fopenPostings = 0;
    DocId fbase = 0;  // the tail's first document
    DocId fnext = 0;
    TTail ftail;
    TEntryReader freader;
    TSegmentWriter fwriter;
};

}  // namespace vindex
