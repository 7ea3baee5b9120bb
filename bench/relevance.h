// The relevance benchmark's data and measures: knowledge bases made from labelled public data
// (forum questions judged against each other, bug reports with their triagers' duplicate links),
// the queries asked of them, and the figures of a ranking over them.
//
// A ranking is one function from a knowledge base and a query text to the entries listed, best
// first (TRanking); the benchmark knows nothing else of it.
//
// Thread safety: none needed; one thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ranking.h"
#include "textsearch/bestmatch/bm25f.h"

namespace relevance {

struct TEntry {
    std::string ID;
    std::string problem;   // UTF-8
    std::string solution;  // UTF-8, may be empty
};

struct TQuery {
    std::string full;   // the whole asking text
    std::string title;  // its first line (the subject, the summary)
    // SemEval: the candidates (entry indices) in the search engine's order, with their labels.
    std::vector<size_t> candidates;
    std::vector<bool> relevant;
    // GitBugs: the asking report's own entry (left out of its ranking) and its duplicate.
    size_t self = SIZE_MAX;
    size_t duplicate = SIZE_MAX;
};

struct TSplit {
    std::string name;
    bool semeval = false;
    std::vector<TEntry> entries;
    std::vector<TQuery> queries;
};

// Reads the four splits from the data folder; throws std::runtime_error when a file is missing.
// The gzipped files are read through a pipe from `gzip -dc`.
TSplit ReadSemEval(const std::string& folder, bool test);
TSplit ReadGitBugs(const std::string& folder, const std::string& project);

// A ranking prepared for one knowledge base: the entries listed for a query, best first.
class TRanker {
public:
    virtual ~TRanker() = default;
    virtual std::vector<size_t> Rank(const std::string& query) = 0;
};
using TRanking = std::function<std::unique_ptr<TRanker>(const std::vector<TEntry>&)>;

// Classic as the program ranks (the real search index, an entry by its best text), the plain
// baselines over one bag of Porter stems per entry, and Best match.
std::unique_ptr<TRanker> MakeClassic(const std::vector<TEntry>& entries);
// Either ranking as the program runs it, end to end: the entries saved into a knowledge base
// file, loaded as the tool loads it, each query searched in its stored form.
std::unique_ptr<TRanker> MakeProgram(const std::vector<TEntry>& entries, ::TRanking ranking);
std::unique_ptr<TRanker> MakeTfIdf(const std::vector<TEntry>& entries);
std::unique_ptr<TRanker> MakeBm25(const std::vector<TEntry>& entries);
std::unique_ptr<TRanker> MakeBestMatch(const std::vector<TEntry>& entries,
                                       const TBestMatchParams& params);
// Best match's constants may change between rankings of the same knowledge base. REQUIRES:
// ranker was made by MakeBestMatch.
void SetBestMatchParams(TRanker& ranker, const TBestMatchParams& params);

struct TFigures {
    // SemEval: MAP, MRR, P@1, P@5; GitBugs: MRR, R@1, R@5, R@10 (percentages).
    double m[4] = {0, 0, 0, 0};
    double medianListed = 0;
};

// The figures of a ranking on a split, with the full or the title-only queries.
TFigures Measure(const TSplit& split, TRanker& ranker, bool titleOnly);

}  // namespace relevance
