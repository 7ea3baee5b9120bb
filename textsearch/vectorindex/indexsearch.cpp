#include "textsearch/vectorindex/indexsearch.h"

#include <algorithm>
#include <string>
#include <thread>

#include "textsearch/cvrules.h"
#include "textsearch/helperthread.h"

namespace vindex {

namespace {

using TMatch = TVectorIndex::TMatch;
using TMatches = TVectorIndex::TMatches;

// A query reduced to what the index needs: per line in order, its term id and count.
struct TQueryPlan {
    struct TLine {
        uint32_t term;
        int32_t count;  // 0 when malformed (then malformed is set and no dot product is used)
    };
    std::vector<TLine> lines;  // the lines whose name is a known term, in order
    // Whether the packed sums cannot carry from one half into the other: every count is below
    // 255, so the squares of a document add up to less than lines * 255^2 and its products to
    // less than the sum of the query's counts times 255.
    bool packable = false;
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

class TSearch {
public:
    TSearch(const TIndexView& index, const TQueryPlan& plan) : findex(index), fplan(plan) {}

    void Run(TMatches& out, TMatches& scratch) const;

private:
    // The packed way over one segment; false, with out as it was, where it cannot be taken.
    bool SearchPacked(const TSegment& segment, const TSegment::TRuns* runs,
                      std::vector<uint64_t>& sums, TMatches& out) const;
    // The search over the segments [first, last), with the tail too when withTail.
    void SearchPart(size_t first, size_t last, bool withTail,
                    const std::vector<TSegment::TRuns>& runs, TMatches& out) const;
    void SearchTail(TAccumulators& acc, TMatches& out) const;
    void Score(const TAccumulators& acc, uint32_t base, uint32_t docs,
               TMatches& out) const;

    const TIndexView& findex;
    const TQueryPlan& fplan;
};

void TSearch::Score(const TAccumulators& acc, uint32_t base, uint32_t docs,
                    TMatches& out) const {
    const TQueryPlan& plan = fplan;
    for (uint32_t d = 0; d < docs; ++d) {
        if (findex.dead[base + d] || acc.malformed[d]) continue;  // removed, or Proximity raises
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

bool TSearch::SearchPacked(const TSegment& segment, const TSegment::TRuns* runs,
                           std::vector<uint64_t>& sums, TMatches& out) const {
    const TQueryPlan& plan = fplan;
    const size_t lines = plan.lines.size();
    if (!plan.packable || plan.malformed) return false;
    if (!segment.bigs.empty()) {
        for (size_t j = 0; j < lines; ++j) {
            const auto big = segment.BigAt(runs[j].countedBegin);
            if (big != segment.bigs.end() && big->pos < runs[j].countedEnd) return false;
        }
    }
    sums.assign(segment.docCount, 0);
    uint64_t* const sum = sums.data();
    const uint16_t* const ones = segment.ones.data();
    const uint16_t* const countedDocs = segment.countedDocs.data();
    const uint8_t* const counts = segment.counts.data();
    for (size_t j = 0; j < lines; ++j) {
        const TSegment::TRuns& r = runs[j];
        const uint64_t q = static_cast<uint32_t>(plan.lines[j].count);
        const uint64_t one = (q << 32) | 1;
        for (uint32_t k = r.onesBegin; k < r.onesEnd; ++k)
            sum[ones[k]] += one;
        for (uint32_t k = r.countedBegin; k < r.countedEnd; ++k) {
            const uint64_t c = counts[k];
            sum[countedDocs[k]] += ((q * c) << 32) | (c * c);
        }
    }
    constexpr uint64_t kExactDots = uint64_t{1} << 24;
    const size_t before = out.size();
    const DocId base = segment.base;
    for (uint32_t d = 0; d < segment.docCount; ++d) {
        if (findex.dead[base + d]) continue;
        const uint64_t packed = sum[d];
        const auto squares = static_cast<uint32_t>(packed);
        if (squares == 0) {
            // None of the query's terms: QueryMagnitude is 0.
            if (plan.zeroForUntouched) out.push_back({base + d, 0.0f});
            continue;
        }
        const uint64_t dot = packed >> 32;
        if (dot > kExactDots) {
            out.resize(before);
            return false;
        }
        const double denominator =
            cvrules::Denominator(plan.m1, cvrules::RootOf(static_cast<double>(squares)));
        if (denominator == 0) {
            if (0.0f > plan.threshold) out.push_back({base + d, 0.0f});
            continue;
        }
        const float score = cvrules::Quotient(static_cast<float>(dot), denominator);
        if (score > plan.threshold) out.push_back({base + d, score});
    }
    return true;
}

void TSearch::SearchPart(size_t first, size_t last, bool withTail,
                         const std::vector<TSegment::TRuns>& runs, TMatches& out) const {
    TAccumulators acc;
    std::vector<uint64_t> sums;
    const size_t lines = fplan.lines.size();
    for (size_t s = first; s < last; ++s) {
        const TSegment& segment = findex.segments[s];
        if (SearchPacked(segment, runs.data() + s * lines, sums, out)) continue;
        acc.Reset(segment.docCount);
        // The arrays' addresses in locals: otherwise every store to an accumulator makes the
        // loops load them again.
        const uint16_t* const ones = segment.ones.data();
        const uint16_t* const countedDocs = segment.countedDocs.data();
        const uint8_t* const counts = segment.counts.data();
        double* const squares = acc.squares.data();
        float* const dots = acc.dots.data();
        for (size_t j = 0; j < lines; ++j) {
            const TSegment::TRuns& r = runs[s * lines + j];
            const int32_t q = fplan.lines[j].count;
            // A document has one posting per term at most, so taking the term's documents
            // with count 1 first changes no document's sums.
            for (uint32_t k = r.onesBegin; k < r.onesEnd; ++k) {
                const uint32_t d = ones[k];
                cvrules::AddSquare(squares[d], 1);
                dots[d] = cvrules::AddProduct(dots[d], q, 1);
            }
            auto big = segment.bigs.end();
            for (uint32_t k = r.countedBegin; k < r.countedEnd; ++k) {
                const uint32_t d = countedDocs[k];
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
        Score(acc, segment.base, segment.docCount, out);
    }
    if (withTail) SearchTail(acc, out);
}

void TSearch::SearchTail(TAccumulators& acc, TMatches& out) const {
    const uint32_t docs = findex.tailEnd - findex.tailBase;
    if (docs == 0) return;
    const DocId base = findex.tailBase;
    std::vector<uint32_t> listOf(findex.dictionary.Count(), 0);  // per term: 1 + its list, or 0
    std::vector<std::vector<std::pair<uint32_t, int32_t>>> lists;
    for (const TQueryPlan::TLine& line : fplan.lines) {
        if (listOf[line.term] == 0) {
            lists.emplace_back();
            listOf[line.term] = static_cast<uint32_t>(lists.size());
        }
    }
    if (!lists.empty()) {
        for (const TTailPosting& p : findex.tail) {
            if (const uint32_t l = listOf[p.term]; l != 0) {
                lists[l - 1].push_back({p.doc - base, p.count});
            }
        }
    }
    acc.Reset(docs);
    for (const TQueryPlan::TLine& line : fplan.lines) {
        for (const auto& [d, count] : lists[listOf[line.term] - 1])
            acc.Add(d, count, line.count);
    }
    Score(acc, base, docs, out);
}

void TSearch::Run(TMatches& out, TMatches& scratch) const {
    const size_t lines = fplan.lines.size();
    const size_t segments = findex.segments.size();
    std::vector<TSegment::TRuns> runs(segments * lines);
    std::vector<size_t> work(segments, 0);  // postings to visit per segment
    size_t total = findex.tail.size();
    for (size_t s = 0; s < segments; ++s) {
        for (size_t j = 0; j < lines; ++j) {
            const TSegment::TRuns r = findex.segments[s].Runs(fplan.lines[j].term);
            runs[s * lines + j] = r;
            work[s] += r.Size();
        }
        work[s] += findex.segments[s].docCount / 8;  // scoring the documents costs too
        total += work[s];
    }

    if (total < findex.parallelPostings || segments < 2 ||
        std::thread::hardware_concurrency() < 2) {
        SearchPart(0, segments, true, runs, out);
        return;
    }
    // Two runs of segments of about equal work, so that the results join in id order.
    size_t split = 0;
    for (size_t sofar = 0; split < segments && 2 * (sofar + work[split]) <= total; ++split) {
        sofar += work[split];
    }
    split = std::clamp<size_t>(split, 1, segments - 1);
    // The head goes straight to out and the rest after it, so that only the rest is copied.
    scratch.clear();
    {
        THelperThread helper([&] { SearchPart(split, segments, true, runs, scratch); });
        SearchPart(0, split, false, runs, out);
        helper.Join();
    }
    out.insert(out.end(), scratch.begin(), scratch.end());
}

}  // namespace

void Search(const TIndexView& index, const TcvVector& query, float threshold,
            TMatches& out, TMatches& scratch) {
    TQueryPlan plan;
    plan.m1 = query.magnitude;
    plan.threshold = threshold;
    for (const std::string& line : query.Lines()) {
        const std::string_view name = cvrules::NameOf(line);
        const auto count = cvrules::TryZeroPrefixed(cvrules::ValueAfter(line, name.size()));
        if (!count) plan.malformed = true;
        const uint32_t term = index.dictionary.Find(TNameKey(name));
        if (term != kNoTerm) plan.lines.push_back({term, count.value_or(0)});
    }
    uint64_t counts = 0;
    for (const TQueryPlan::TLine& line : plan.lines)
        counts += static_cast<uint32_t>(line.count);
    constexpr uint64_t kBelowBig = kBigCount - 1;
    plan.packable = plan.lines.size() * kBelowBig * kBelowBig <= UINT32_MAX &&
                    counts * kBelowBig <= UINT32_MAX;
    // Without any of the terms, Proximity is 0 when m1 * 0 == 0, and NaN (or an error) else.
    plan.zeroForUntouched =
        cvrules::Denominator(plan.m1, cvrules::RootOf(0.0)) == 0 && 0.0f > threshold;
    if (plan.lines.empty() && !plan.zeroForUntouched) return;
    TSearch(index, plan).Run(out, scratch);
}

}  // namespace vindex
