// How the index works.
//
// Terms. Every line name met is folded to lower case (ASCII only) and given a term id in one
// dictionary shared by all documents; a line without '=' has the empty name. A query line's name
// folds the same way, so "same name, ASCII case ignored" becomes "same term id".
//
// Entries. Of a document's lines only the first line with each term counts, and its count is
// what Proximity would convert: "0" followed by the line's value. That is a number from 0 to
// INT32_MAX or malformed, recorded as kMalformed. An entry of 0 adds exactly nothing to either
// sum, so it is not stored (the term is still marked as seen, so a later duplicate line stays
// ignored).
//
// Segments. Documents are grouped by consecutive ids into segments (16384 by default). A
// segment stores its postings by term (a sorted directory of term ids and, per term, its
// documents in increasing order): 2 bytes of document offset and 1 byte of count per posting;
// counts of 255 and more, and malformed ones, sit in a side list. The newest documents form the
// tail, kept in document order until there are enough of them to make a segment; a search
// sorts out the tail's postings of its terms in one pass over it. A large batch is parsed on
// two threads (AddBatch), and every batch of more than a few hundred documents ends in a segment,
// so that a freshly loaded index has no tail for searches to sort.
//
// Search. Per segment, term at a time in the order of the query's lines, every posting updates
// its document's accumulators: the sum of squares (double) and the dot product (float, rounded
// after each addition), exactly as QueryMagnitude and DotProduct do for that document, since a
// term the document lacks adds exactly 0 there. The accumulators of one segment stay in the
// cache. Then the segment's documents are scored in id order. Large searches split the segments
// between two threads and join the results in order.
#include "textsearch/vectorindex.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <thread>

#include "port/simd.h"
#include "textsearch/cvrules.h"

namespace {

using DocId = TVectorIndex::DocId;

constexpr uint32_t kMaxSegmentDocs = 65536;  // document offsets are 16 bits
constexpr size_t kMaxTailPostings = size_t{1} << 28;
constexpr int32_t kMalformed = -1;
constexpr uint8_t kBigCount = 255;
constexpr uint32_t kNoTerm = UINT32_MAX;
// Documents from which a batch ends in a segment of its own, and from which half a batch is
// worth a thread of its own.
constexpr size_t kMinFrozenBatch = 256;
constexpr size_t kMinBatchHalf = 2048;

// ASCII lower case of 8 bytes at once: bytes 'A'..'Z' get 0x20 added, all others stay.
inline uint64_t FoldWord(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    const uint64_t heptets = w & (0x7F * kOnes);
    const uint64_t atLeastA = heptets + (0x80 - 'A') * kOnes;
    const uint64_t aboveZ = heptets + (0x80 - 'Z' - 1) * kOnes;
    const uint64_t upper = atLeastA & ~aboveZ & ~w & (0x80 * kOnes);
    return w | (upper >> 2);
}

// The bytes of p[0..n) as the low bytes of a word (n < 8), without a memcpy call.
inline uint64_t LoadPartial(const char* p, size_t n) {
    uint64_t w = 0;
    for (size_t i = 0; i < n; ++i)
        w |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    return w;
}

// The first of '=', CR, LF and NUL in [p, end), or end.
inline const char* NextSpecial(const char* p, const char* end) {
    return FindFirstOfFour(p, end, '=', '\r', '\n', '\0');
}

// A line name as the dictionary sees it: its first 8 bytes folded (zero-padded) and a hash of
// all its folded bytes. Stored names never hold NUL, so prefix and length identify names of up
// to 8 bytes.
struct TNameKey {
    std::string_view name;
    uint64_t prefix;
    uint64_t hash;

    explicit TNameKey(std::string_view s) : name(s) {
        constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
        uint64_t h = s.size() * kMul;
        size_t i = 0;
        prefix = 0;
        for (; i + 8 <= s.size(); i += 8) {
            uint64_t w;
            std::memcpy(&w, s.data() + i, 8);
            w = FoldWord(w);
            if (i == 0) prefix = w;
            h = (h ^ w) * kMul;
            h ^= h >> 32;
        }
        if (i < s.size()) {
            const uint64_t w = FoldWord(LoadPartial(s.data() + i, s.size() - i));
            if (i == 0) prefix = w;
            h = (h ^ w) * kMul;
            h ^= h >> 32;
        }
        h *= kMul;
        hash = h ^ (h >> 29);
    }

    // Hash bits beside the (capped) length, the slot's quick test.
    uint32_t Check() const {
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(name.size(), 0xFFFF));
        return (static_cast<uint32_t>(hash >> 32) & 0xFFFF0000u) | length;
    }
};

// REQUIRES: folded is already in lower case.
inline bool EqualsFolded(std::string_view folded, std::string_view name) {
    if (folded.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (folded[i] != cvrules::FoldAscii(name[i])) return false;
    }
    return true;
}

// Folded line names to term ids: open addressing, at most half full. A slot keeps a name's
// first 8 folded bytes, so short names are found without touching the key arena.
class TTermDictionary {
public:
    uint32_t Count() const { return static_cast<uint32_t>(fstarts.size()); }

    uint32_t Find(const TNameKey& key) const {
        if (fslots.empty()) return kNoTerm;
        return fslots[Probe(key)].id1 - 1;  // kNoTerm when the slot is free
    }

    uint32_t FindOrAdd(const TNameKey& key) {
        if (2 * (Count() + 1) > fslots.size()) Grow();
        TSlot& slot = fslots[Probe(key)];
        if (slot.id1 != 0) return slot.id1 - 1;
        const uint32_t id = Count();
        fstarts.push_back(fchars.size());
        for (const char c : key.name)
            fchars.push_back(cvrules::FoldAscii(c));
        slot = {key.prefix, id + 1, key.Check()};
        return id;
    }

    size_t MemoryUsage() const {
        return fslots.capacity() * sizeof(TSlot) + fchars.capacity() +
               fstarts.capacity() * sizeof(size_t);
    }

    // The folded name of a term.
    std::string_view Key(uint32_t id) const {
        const size_t begin = fstarts[id];
        const size_t end = id + 1 < fstarts.size() ? fstarts[id + 1] : fchars.size();
        return std::string_view(fchars).substr(begin, end - begin);
    }

private:
    struct TSlot {
        uint64_t prefix = 0;
        uint32_t id1 = 0;  // id + 1; 0 = free
        uint32_t check = 0;
    };

    // The slot holding key, or the free slot where it belongs.
    size_t Probe(const TNameKey& key) const {
        const size_t mask = fslots.size() - 1;
        const uint32_t check = key.Check();
        for (size_t s = key.hash & mask;; s = (s + 1) & mask) {
            const TSlot& slot = fslots[s];
            if (slot.id1 == 0) return s;
            if (slot.check == check && slot.prefix == key.prefix &&
                (key.name.size() <= 8 || EqualsFolded(Key(slot.id1 - 1), key.name))) {
                return s;
            }
        }
    }

    void Grow() {
        std::vector<TSlot> slots(fslots.empty() ? 1024 : 2 * fslots.size());
        const size_t mask = slots.size() - 1;
        for (uint32_t id = 0; id < Count(); ++id) {
            const TNameKey key(Key(id));
            size_t s = key.hash & mask;
            while (slots[s].id1 != 0)
                s = (s + 1) & mask;
            slots[s] = {key.prefix, id + 1, key.Check()};
        }
        fslots.swap(slots);
    }

    std::vector<TSlot> fslots;
    std::string fchars;  // the folded names, one after another
    std::vector<size_t> fstarts;
};

struct TBigCount {
    uint32_t pos;   // index of the posting in its segment
    int32_t count;  // >= kBigCount, or kMalformed
};

// Documents [base, base + docCount) by term. Invariant: directory ascending by term; a term's
// postings occupy [begin, end) with ascending offsets (runs of different terms do not overlap,
// but need not lie in term order); bigs ascending by pos.
struct TSegment {
    struct TEntry {
        uint32_t term;
        uint32_t begin;
        uint32_t end;
    };

    uint32_t base = 0;
    uint32_t docCount = 0;
    uint32_t deadDocs = 0;  // removed since the postings were last rebuilt
    uint32_t liveAtBuild = 0;
    std::vector<TEntry> directory;
    std::vector<uint16_t> offsets;
    std::vector<uint8_t> counts;
    std::vector<TBigCount> bigs;

    // The postings of term, as [begin, end).
    std::pair<uint32_t, uint32_t> Range(uint32_t term) const {
        const auto it = std::lower_bound(directory.begin(), directory.end(), term,
                                         [](const TEntry& e, uint32_t t) { return e.term < t; });
        if (it == directory.end() || it->term != term) return {0, 0};
        return {it->begin, it->end};
    }

    // The first big count at or after posting k.
    std::vector<TBigCount>::const_iterator BigAt(uint32_t k) const {
        return std::lower_bound(bigs.begin(), bigs.end(), k,
                                [](const TBigCount& b, uint32_t pos) { return b.pos < pos; });
    }

    void Append(uint16_t offset, int32_t count) {
        if (count >= kBigCount || count == kMalformed) {
            bigs.push_back({static_cast<uint32_t>(offsets.size()), count});
            counts.push_back(kBigCount);
        } else {
            counts.push_back(static_cast<uint8_t>(count));
        }
        offsets.push_back(offset);
    }

    size_t MemoryUsage() const {
        return directory.capacity() * sizeof(TEntry) + offsets.capacity() * 2 + counts.capacity() +
               bigs.capacity() * sizeof(TBigCount);
    }
};

struct TTailPosting {
    uint32_t term;
    uint32_t doc;
    int32_t count;
};

// Takes documents of consecutive ids, parses them against a dictionary and cuts them into
// segments of segmentDocs. Until then they wait in the tail: their postings in document order,
// which costs one sequential write per line; the tail is sorted by term when it becomes a
// segment. The index keeps one builder over its shared dictionary; a batch uses two, one of
// them over a dictionary of its own (see TVectorIndex::TImpl::AddBatch).
class TSegmentBuilder {
public:
    TSegmentBuilder(TTermDictionary& dictionary, uint32_t segmentDocs, DocId first,
                    std::vector<TSegment>& segments)
        : fdictionary(dictionary),
          fsegmentDocs(segmentDocs),
          fsegments(segments),
          fbase(first),
          fnext(first) {}

    DocId TailBase() const { return fbase; }
    uint32_t TailDocs() const { return fnext - fbase; }
    const std::vector<TTailPosting>& Tail() const { return ftail; }

    // Parses the next document. Returns true when that completed a segment.
    bool Add(std::string_view text) {
        const DocId id = fnext++;
        // The lines of a stored text (see cvrules::ForEachStoredLine), found together with their
        // first '=' in one pass.
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
            AddLine(std::string_view(start, static_cast<size_t>(p - start)),
                    eq == nullptr ? std::string_view::npos : static_cast<size_t>(eq - start), id);
            if (p < end && *p == '\r') ++p;
            if (p < end && *p == '\n') ++p;
        }
        if (TailDocs() >= fsegmentDocs || ftail.size() >= kMaxTailPostings) {
            Freeze();
            return true;
        }
        return false;
    }

    // Makes the tail a segment when it holds any document; returns whether it did. The tail's
    // room is kept for the next one.
    bool Freeze() {
        if (TailDocs() == 0) return false;
        TSegment segment;
        segment.base = fbase;
        segment.docCount = TailDocs();
        segment.liveAtBuild = segment.docCount;
        std::sort(ftailTerms.begin(), ftailTerms.end());
        segment.directory.reserve(ftailTerms.size());
        uint32_t start = 0;
        for (const uint32_t term : ftailTerms) {
            const uint32_t n = fterms[term].tailCount;
            segment.directory.push_back({term, start, start + n});
            fterms[term].tailCount = start;  // now the term's write position
            start += n;
        }
        segment.offsets.resize(ftail.size());
        segment.counts.resize(ftail.size());
        for (const TTailPosting& p : ftail) {
            const uint32_t k = fterms[p.term].tailCount++;
            segment.offsets[k] = static_cast<uint16_t>(p.doc - fbase);
            if (p.count >= kBigCount || p.count == kMalformed) {
                segment.counts[k] = kBigCount;
                segment.bigs.push_back({k, p.count});
            } else {
                segment.counts[k] = static_cast<uint8_t>(p.count);
            }
        }
        std::sort(segment.bigs.begin(), segment.bigs.end(),
                  [](const TBigCount& a, const TBigCount& b) { return a.pos < b.pos; });
        for (const uint32_t term : ftailTerms)
            fterms[term].tailCount = 0;
        ftailTerms.clear();
        ftail.clear();
        fbase = fnext;
        fsegments.push_back(std::move(segment));
        return true;
    }

    size_t MemoryUsage() const {
        return fterms.capacity() * sizeof(TTermState) + ftail.capacity() * sizeof(TTailPosting) +
               ftailTerms.capacity() * 4;
    }

private:
    void AddLine(std::string_view line, size_t eq, DocId id) {
        const std::string_view name =
            eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
        const uint32_t term = fdictionary.FindOrAdd(TNameKey(name));
        if (term >= fterms.size()) fterms.resize(std::max<size_t>(term + 1, 2 * fterms.size()));
        TTermState& state = fterms[term];
        if (state.seen == id + 1) return;  // a later line with a name already seen
        state.seen = id + 1;
        const auto parsed = cvrules::TryZeroPrefixed(cvrules::ValueAfter(line, name.size()));
        const int32_t count = parsed ? *parsed : kMalformed;
        if (count == 0) return;
        if (state.tailCount++ == 0) ftailTerms.push_back(term);
        ftail.push_back({term, id, count});
    }

    struct TTermState {
        uint32_t seen = 0;       // 1 + the last document that had a line for the term
        uint32_t tailCount = 0;  // the term's postings in the tail
    };

    TTermDictionary& fdictionary;
    const uint32_t fsegmentDocs;
    std::vector<TSegment>& fsegments;
    DocId fbase;  // the tail's first document
    DocId fnext;
    std::vector<TTermState> fterms;
    std::vector<TTailPosting> ftail;
    std::vector<uint32_t> ftailTerms;  // the terms with postings in the tail
};

// Gives a segment built over another dictionary the term ids of this one. Only the directory
// is sorted again; the postings stay where they are.
void RenumberTerms(TSegment& segment, const std::vector<uint32_t>& newId) {
    for (TSegment::TEntry& e : segment.directory)
        e.term = newId[e.term];
    std::sort(segment.directory.begin(), segment.directory.end(),
              [](const TSegment::TEntry& a, const TSegment::TEntry& b) { return a.term < b.term; });
}

// A query reduced to what the index needs: per line in order, its term id and count.
struct TQueryPlan {
    struct TLine {
        uint32_t term;
        int32_t count;  // 0 when malformed (then malformed is set and no dot product is used)
    };
    std::vector<TLine> lines;  // the lines whose name is a known term, in order
    float m1 = 0;
    bool malformed = false;         // some line's count does not convert: DotProduct would raise
    bool zeroForUntouched = false;  // a document without any of the terms scores 0 and passes
    float threshold = 0;
};

// The working state of one search over one run of documents.
struct TAccumulators {
    std::vector<double> squares;
    std::vector<float> dots;
    std::vector<uint8_t> malformed;

    void Reset(uint32_t docs) {
        squares.assign(docs, 0.0);
        dots.assign(docs, 0.0f);
        malformed.assign(docs, 0);
    }

    // One posting: document offset d, count s of the term of a query line with count q.
    void Add(uint32_t d, int32_t s, int32_t q) {
        if (s == kMalformed) {
            malformed[d] = 1;
            return;
        }
        cvrules::AddSquare(squares[d], s);
        dots[d] = cvrules::AddProduct(dots[d], q, s);
    }
};

// Runs job on a second thread while the caller goes on; Join rethrows what it raised.
class THelperThread {
public:
    template <class Job>
    explicit THelperThread(Job job)
        : fthread([this, job]() mutable {
              try {
                  job();
              } catch (...) {
                  ferror = std::current_exception();
              }
          }) {}
    THelperThread(const THelperThread&) = delete;
    THelperThread& operator=(const THelperThread&) = delete;
    ~THelperThread() {
        if (fthread.joinable()) fthread.join();
    }

    void Join() {
        fthread.join();
        if (ferror) std::rethrow_exception(ferror);
    }

private:
    std::exception_ptr ferror;
    std::thread fthread;
};

}  // namespace

class TVectorIndex::TImpl {
public:
    explicit TImpl(TOptions options)
        : fsegmentDocs(std::clamp<uint32_t>(options.segmentDocs, 1, kMaxSegmentDocs)),
          fparallelPostings(options.parallelPostings),
          fbuilder(std::make_unique<TSegmentBuilder>(fdictionary, fsegmentDocs, 0, fsegments)) {}
    // The builder refers to the dictionary and the segments: the index lives where it was made.
    TImpl(const TImpl&) = delete;
    TImpl& operator=(const TImpl&) = delete;

    void Reserve(size_t docs) { fdead.reserve(docs); }

    DocId Add(std::string_view text) {
        const DocId id = static_cast<DocId>(fdead.size());
        fdead.push_back(0);
        ++flive;
        if (fbuilder->Add(text)) MarkRemovedInLastSegment();
        return id;
    }

    DocId AddBatch(std::span<const std::string_view> texts);

    void Remove(DocId id) {
        if (id >= fdead.size() || fdead[id]) return;
        fdead[id] = 1;
        --flive;
        if (id < fbuilder->TailBase()) {
            TSegment& segment = SegmentOf(id);
            if (++segment.deadDocs * 2 > segment.liveAtBuild) Compact(segment);
        }
    }

    size_t LiveCount() const { return flive; }

    size_t MemoryUsage() const {
        size_t bytes = fdictionary.MemoryUsage() + fdead.capacity() + fbuilder->MemoryUsage() +
                       fsegments.capacity() * sizeof(TSegment);
        for (const TSegment& s : fsegments)
            bytes += s.MemoryUsage();
        return bytes;
    }

    void Search(const TcvVector& query, float threshold, std::vector<TMatch>& out) const;

private:
    // Documents removed while in the tail count as removed in the segment they became.
    void MarkRemovedInLastSegment() {
        TSegment& segment = fsegments.back();
        for (uint32_t d = 0; d < segment.docCount; ++d) {
            if (fdead[segment.base + d]) --segment.liveAtBuild;
        }
    }
    void Compact(TSegment& segment);
    TSegment& SegmentOf(DocId id) {
        auto it = std::upper_bound(fsegments.begin(), fsegments.end(), id,
                                   [](DocId d, const TSegment& s) { return d < s.base; });
        return *(it - 1);
    }

    // The search over the segments [first, last), with the tail too when withTail.
    void SearchPart(const TQueryPlan& plan, size_t first, size_t last, bool withTail,
                    const std::vector<std::pair<uint32_t, uint32_t>>& ranges,
                    std::vector<TMatch>& out) const;
    void SearchTail(const TQueryPlan& plan, TAccumulators& acc, std::vector<TMatch>& out) const;
    void Score(const TQueryPlan& plan, const TAccumulators& acc, uint32_t base, uint32_t docs,
               std::vector<TMatch>& out) const;

    const uint32_t fsegmentDocs;
    const size_t fparallelPostings;
    TTermDictionary fdictionary;
    std::vector<uint8_t> fdead;  // per document id
    size_t flive = 0;
    std::vector<TSegment> fsegments;            // ascending base, covering the ids below the tail
    std::unique_ptr<TSegmentBuilder> fbuilder;  // the tail, over fdictionary
};

// Parsing is most of the cost of a large batch, so the batch is cut in two at a segment
// boundary and the halves are parsed on two threads. The dictionary cannot grow from two
// threads at once, so the second half gets a dictionary of its own; afterwards its terms are
// entered into the shared one and its segments' directories renumbered. The result is what
// adding the texts one by one gives, apart from where segments end.
TVectorIndex::DocId TVectorIndex::TImpl::AddBatch(std::span<const std::string_view> texts) {
    const DocId first = static_cast<DocId>(fdead.size());
    fdead.resize(fdead.size() + texts.size(), 0);
    flive += texts.size();
    // A batch too small for two full segments is halved all the same once it is large enough
    // to pay for a thread; its segments are then shorter.
    size_t half = texts.size() / 2 / fsegmentDocs * fsegmentDocs;
    if (half == 0 && texts.size() >= 2 * kMinBatchHalf) half = texts.size() / 2;
    if (half == 0 || std::thread::hardware_concurrency() < 2) {
        for (const std::string_view text : texts) {
            if (fbuilder->Add(text)) MarkRemovedInLastSegment();
        }
        // What a large batch leaves in the tail becomes a segment too: every search would
        // otherwise sort the whole tail's postings again.
        if (texts.size() >= kMinFrozenBatch && fbuilder->Freeze()) MarkRemovedInLastSegment();
        return first;
    }

    if (fbuilder->Freeze()) MarkRemovedInLastSegment();  // the halves start new segments
    // The first half grows the shared dictionary, the second one a dictionary of its own.
    TTermDictionary ownTerms;
    std::vector<TSegment> secondHalf;
    auto build = [&](TTermDictionary& dictionary, std::vector<TSegment>& segments, size_t begin,
                     size_t end) {
        TSegmentBuilder builder(dictionary, fsegmentDocs, static_cast<DocId>(first + begin),
                                segments);
        for (size_t i = begin; i < end; ++i)
            builder.Add(texts[i]);
        builder.Freeze();
    };
    {
        THelperThread helper([&] { build(ownTerms, secondHalf, half, texts.size()); });
        build(fdictionary, fsegments, 0, half);
        helper.Join();
    }
    std::vector<uint32_t> newId(ownTerms.Count());
    for (uint32_t t = 0; t < newId.size(); ++t) {
        newId[t] = fdictionary.FindOrAdd(TNameKey(ownTerms.Key(t)));
    }
    for (TSegment& segment : secondHalf) {
        RenumberTerms(segment, newId);
        fsegments.push_back(std::move(segment));
    }
    fbuilder = std::make_unique<TSegmentBuilder>(fdictionary, fsegmentDocs,
                                                 static_cast<DocId>(fdead.size()), fsegments);
    return first;
}

// Drops the postings of removed documents, so that removing does not leave memory behind.
void TVectorIndex::TImpl::Compact(TSegment& segment) {
    TSegment rebuilt;
    rebuilt.base = segment.base;
    rebuilt.docCount = segment.docCount;
    for (const TSegment::TEntry& e : segment.directory) {
        const uint32_t before = static_cast<uint32_t>(rebuilt.offsets.size());
        auto big = segment.BigAt(e.begin);
        for (uint32_t k = e.begin; k < e.end; ++k) {
            int32_t count = segment.counts[k];
            if (count == kBigCount) count = (big++)->count;
            if (fdead[segment.base + segment.offsets[k]]) continue;
            rebuilt.Append(segment.offsets[k], count);
        }
        const uint32_t after = static_cast<uint32_t>(rebuilt.offsets.size());
        if (after > before) rebuilt.directory.push_back({e.term, before, after});
    }
    for (uint32_t d = 0; d < segment.docCount; ++d) {
        rebuilt.liveAtBuild += fdead[segment.base + d] ? 0 : 1;
    }
    rebuilt.directory.shrink_to_fit();
    rebuilt.offsets.shrink_to_fit();
    rebuilt.counts.shrink_to_fit();
    rebuilt.bigs.shrink_to_fit();
    segment = std::move(rebuilt);
}

void TVectorIndex::TImpl::Score(const TQueryPlan& plan, const TAccumulators& acc, uint32_t base,
                                uint32_t docs, std::vector<TMatch>& out) const {
    for (uint32_t d = 0; d < docs; ++d) {
        if (fdead[base + d] || acc.malformed[d]) continue;  // removed, or Proximity raises
        const double squares = acc.squares[d];
        if (squares == 0) {
            // None of the query's terms with a count: QueryMagnitude is 0.
            if (plan.zeroForUntouched) out.push_back({base + d, 0.0f});
            continue;
        }
        const double denominator = cvrules::Denominator(plan.m1, cvrules::RootOf(squares));
        if (denominator == 0) {
            if (0.0f > plan.threshold) out.push_back({base + d, 0.0f});
            continue;
        }
        if (plan.malformed) continue;  // DotProduct raises on the query's own count
        const float score = cvrules::Quotient(acc.dots[d], denominator);
        if (score > plan.threshold) out.push_back({base + d, score});
    }
}

void TVectorIndex::TImpl::SearchPart(const TQueryPlan& plan, size_t first, size_t last,
                                     bool withTail,
                                     const std::vector<std::pair<uint32_t, uint32_t>>& ranges,
                                     std::vector<TMatch>& out) const {
    TAccumulators acc;
    const size_t lines = plan.lines.size();
    for (size_t s = first; s < last; ++s) {
        const TSegment& segment = fsegments[s];
        acc.Reset(segment.docCount);
        for (size_t j = 0; j < lines; ++j) {
            const auto [begin, end] = ranges[s * lines + j];
            if (begin == end) continue;
            const int32_t q = plan.lines[j].count;
            // The arrays' addresses in locals: otherwise every store to an accumulator makes the
            // loop load them again.
            const uint16_t* const offsets = segment.offsets.data();
            const uint8_t* const counts = segment.counts.data();
            double* const squares = acc.squares.data();
            float* const dots = acc.dots.data();
            auto big = segment.bigs.end();
            for (uint32_t k = begin; k < end; ++k) {
                const uint32_t d = offsets[k];
                int32_t count = counts[k];
                if (count == kBigCount) {
                    if (big == segment.bigs.end()) big = segment.BigAt(k);
                    count = (big++)->count;
                    if (count == kMalformed) {
                        acc.malformed[d] = 1;
                        continue;
                    }
                }
                cvrules::AddSquare(squares[d], count);
                dots[d] = cvrules::AddProduct(dots[d], q, count);
            }
        }
        Score(plan, acc, segment.base, segment.docCount, out);
    }
    if (withTail) SearchTail(plan, acc, out);
}

// The tail is in document order: one pass sorts its postings of the query's terms into one
// list per term, which are then added up in the order of the query's lines.
void TVectorIndex::TImpl::SearchTail(const TQueryPlan& plan, TAccumulators& acc,
                                     std::vector<TMatch>& out) const {
    const uint32_t docs = fbuilder->TailDocs();
    if (docs == 0) return;
    const DocId base = fbuilder->TailBase();
    std::vector<uint32_t> listOf(fdictionary.Count(), 0);  // per term: 1 + its list, or 0
    std::vector<std::vector<std::pair<uint32_t, int32_t>>> lists;
    for (const TQueryPlan::TLine& line : plan.lines) {
        if (listOf[line.term] == 0) {
            lists.emplace_back();
            listOf[line.term] = static_cast<uint32_t>(lists.size());
        }
    }
    if (!lists.empty()) {
        for (const TTailPosting& p : fbuilder->Tail()) {
            if (const uint32_t l = listOf[p.term]; l != 0) {
                lists[l - 1].push_back({p.doc - base, p.count});
            }
        }
    }
    acc.Reset(docs);
    for (const TQueryPlan::TLine& line : plan.lines) {
        for (const auto& [d, count] : lists[listOf[line.term] - 1])
            acc.Add(d, count, line.count);
    }
    Score(plan, acc, base, docs, out);
}

void TVectorIndex::TImpl::Search(const TcvVector& query, float threshold,
                                 std::vector<TMatch>& out) const {
    TQueryPlan plan;
    plan.m1 = query.magnitude;
    plan.threshold = threshold;
    for (const std::string& line : query.Lines()) {
        const std::string_view name = cvrules::NameOf(line);
        const auto count = cvrules::TryZeroPrefixed(cvrules::ValueAfter(line, name.size()));
        if (!count) plan.malformed = true;
        const uint32_t term = fdictionary.Find(TNameKey(name));
        if (term != kNoTerm) plan.lines.push_back({term, count.value_or(0)});
    }
    // Without any of the terms, Proximity is 0 when m1 * 0 == 0, and NaN (or an error) else.
    plan.zeroForUntouched =
        cvrules::Denominator(plan.m1, cvrules::RootOf(0.0)) == 0 && 0.0f > threshold;
    if (plan.lines.empty() && !plan.zeroForUntouched) return;

    const size_t lines = plan.lines.size();
    const size_t segments = fsegments.size();
    std::vector<std::pair<uint32_t, uint32_t>> ranges(segments * lines);
    std::vector<size_t> work(segments, 0);  // postings to visit per segment
    size_t total = fbuilder->Tail().size();
    for (size_t s = 0; s < segments; ++s) {
        for (size_t j = 0; j < lines; ++j) {
            const auto range = fsegments[s].Range(plan.lines[j].term);
            ranges[s * lines + j] = range;
            work[s] += range.second - range.first;
        }
        work[s] += fsegments[s].docCount / 8;  // scoring the documents costs too
        total += work[s];
    }

    if (total < fparallelPostings || segments < 2 || std::thread::hardware_concurrency() < 2) {
        SearchPart(plan, 0, segments, true, ranges, out);
        return;
    }
    // Two runs of segments of about equal work, so that the results join in id order.
    size_t split = 0;
    for (size_t sofar = 0; split < segments && 2 * (sofar + work[split]) <= total; ++split) {
        sofar += work[split];
    }
    split = std::clamp<size_t>(split, 1, segments - 1);
    std::vector<TMatch> head;
    std::vector<TMatch> rest;
    {
        THelperThread helper([&] { SearchPart(plan, 0, split, false, ranges, head); });
        SearchPart(plan, split, segments, true, ranges, rest);
        helper.Join();
    }
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), rest.begin(), rest.end());
}

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

void TVectorIndex::Search(const TcvVector& query, float threshold, std::vector<TMatch>& out) const {
    fimpl->Search(query, threshold, out);
}
