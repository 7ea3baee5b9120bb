// relevance [--data DIR] [--tune]: the figures of Classic, plain TF-IDF, plain BM25 and Best
// match on the labelled data in DIR (default /work/shared/relevance), for full and title-only
// queries, as a Markdown table. --tune searches Best match's constants on the tuning splits
// (SemEval dev, GitBugs Hadoop) and prints the best it found; the held-out splits are only
// measured.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/relevance.h"

using namespace relevance;

namespace {

void PrintRow(const char* ranking, const char* queries, const TFigures& f) {
    std::printf("| %s | %s | %.1f | %.1f | %.1f | %.1f | %.0f |\n", ranking, queries, f.m[0],
                f.m[1], f.m[2], f.m[3], f.medianListed);
}

// What tuning maximises: the tuning splits' headline figures, full and title-only queries alike.
double Objective(const std::vector<TSplit>& tuning, std::vector<std::unique_ptr<TRanker>>& rs,
                 const TBestMatchParams& p, double* medianOut = nullptr) {
    double sum = 0, median = 0;
    for (size_t i = 0; i < tuning.size(); ++i) {
        SetBestMatchParams(*rs[i], p);
        for (const bool title : {false, true}) {
            const TFigures f = Measure(tuning[i], *rs[i], title);
            sum += f.m[0];
            if (!title) median = std::max(median, f.medianListed);
        }
    }
    if (medianOut) *medianOut = median;
    return sum / (2 * static_cast<double>(tuning.size()));
}

void Tune(const std::vector<TSplit>& tuning) {
    std::vector<std::unique_ptr<TRanker>> rankers;
    for (const TSplit& s : tuning)
        rankers.push_back(MakeBestMatch(s.entries, TBestMatchParams{}));
    TBestMatchParams best;
    double bestScore = Objective(tuning, rankers, best);
    std::printf("start: %.2f\n", bestScore);
    struct TKnob {
        const char* name;
        float TBestMatchParams::*field;
        std::vector<float> values;
    };
    const std::vector<TKnob> knobs = {
        {"k1", &TBestMatchParams::k1, {0.8f, 1.2f, 1.6f, 2.0f, 2.5f, 3.0f, 4.0f, 5.0f, 7.0f}},
        {"bTitle", &TBestMatchParams::bTitle, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}},
        {"bProblem",
         &TBestMatchParams::bProblem,
         {0.3f, 0.5f, 0.6f, 0.7f, 0.75f, 0.8f, 0.9f, 1.0f}},
        {"wTitle", &TBestMatchParams::wTitle, {1.0f, 2.0f, 3.0f, 4.0f, 6.0f, 8.0f, 11.0f, 15.0f}},
        {"idfPower", &TBestMatchParams::idfPower, {1.0f, 1.5f, 1.75f, 2.0f, 2.25f, 2.5f, 3.0f}},
        {"k3", &TBestMatchParams::k3, {0.0f, 1.0f, 2.0f, 5.0f, 10.0f, 1000.0f}},
        {"prefixWeight", &TBestMatchParams::prefixWeight, {0.5f}},
        {"wSolution", &TBestMatchParams::wSolution, {0.5f, 1.0f, 1.5f}},
        {"bSolution", &TBestMatchParams::bSolution, {0.25f, 0.5f, 0.75f, 1.0f}},
    };
    // The ranking's constants first, with every entry that matches listed; then the cut that
    // brings the median list down to 100 entries at the least cost.
    auto tryKnobs = [&](const std::vector<TKnob>& set, bool bounded, int rounds) {
        for (int round = 0; round < rounds; ++round)
            for (const TKnob& k : set)
                for (const float v : k.values) {
                    TBestMatchParams p = best;
                    p.*k.field = v;
                    double median = 0;
                    const double score = Objective(tuning, rankers, p, &median);
                    if (score > bestScore + 1e-9 && (!bounded || median <= 100)) {
                        bestScore = score;
                        best = p;
                        std::printf("round %d: %s = %g -> %.2f (median listed %.0f)\n", round,
                                    k.name, v, score, median);
                    }
                }
    };
    const std::vector<TKnob> cuts = {
        {"relativeCut",
         &TBestMatchParams::relativeCut,
         {0.05f, 0.1f, 0.15f, 0.2f, 0.25f, 0.3f, 0.35f, 0.4f}},
        {"minPercent", &TBestMatchParams::minPercent, {0.0f, 1.0f, 2.0f, 3.0f, 5.0f, 8.0f, 12.0f}},
        {"commonShare", &TBestMatchParams::commonShare, {0.05f, 0.1f, 0.2f, 0.3f, 0.5f, 1.0f}},
    };
    for (const uint32_t q : {16u, 24u, 32u, 48u, 64u, 96u, 1000u}) {
        TBestMatchParams p = best;
        p.maxQueryWords = q;
        const double score = Objective(tuning, rankers, p);
        std::printf("maxQueryWords %u -> %.2f\n", q, score);
        if (score > bestScore + 1e-9) {
            bestScore = score;
            best = p;
        }
    }
    tryKnobs(knobs, false, 2);
    bestScore = 0;
    for (const float cut : {0.1f, 0.2f, 0.3f, 0.4f, 0.5f}) {
        TBestMatchParams p = best;
        p.relativeCut = cut;
        double median = 0;
        const double score = Objective(tuning, rankers, p, &median);
        if (median <= 100 && score > bestScore) {
            best = p;
            bestScore = score;
        }
    }
    std::printf("with a cut: %.2f\n", bestScore);
    tryKnobs(cuts, true, 2);
    tryKnobs(knobs, true, 1);
    std::printf(
        "best %.2f: k1 %g bTitle %g bProblem %g wTitle %g idfPower %g k3 %g relativeCut %g "
        "minPercent %g commonShare %g maxQueryWords %u\n",
        bestScore, best.k1, best.bTitle, best.bProblem, best.wTitle, best.idfPower, best.k3,
        best.relativeCut, best.minPercent, best.commonShare, best.maxQueryWords);
}

}  // namespace

int main(int argc, char** argv) {
    std::string data = "/work/shared/relevance";
    bool tune = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--data") && i + 1 < argc)
            data = argv[++i];
        else if (!std::strcmp(argv[i], "--tune"))
            tune = true;
    }
    std::vector<TSplit> splits;
    try {
        splits.push_back(ReadSemEval(data, false));
        splits.push_back(ReadSemEval(data, true));
        splits.push_back(ReadGitBugs(data, "hadoop"));
        splits.push_back(ReadGitBugs(data, "SeaMonkey"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "relevance: %s\n", e.what());
        return 1;
    }
    if (tune) {
        Tune({splits[0], splits[2]});
        return 0;
    }
    for (const TSplit& s : splits) {
        std::printf("\n%s: %zu entries, %zu queries\n\n", s.name.c_str(), s.entries.size(),
                    s.queries.size());
        if (s.semeval)
            std::printf("| ranking | queries | MAP | MRR | P@1 | P@5 | median listed |\n");
        else
            std::printf("| ranking | queries | MRR | R@1 | R@5 | R@10 | median listed |\n");
        std::printf("|---|---|---:|---:|---:|---:|---:|\n");
        const std::unique_ptr<TRanker> rankers[] = {
            MakeClassic(s.entries),
            MakeTfIdf(s.entries),
            MakeBm25(s.entries),
            MakeBestMatch(s.entries, TBestMatchParams{}),
            MakeProgram(s.entries, ::TRanking::Classic),
            MakeProgram(s.entries, ::TRanking::BestMatch)};
        const char* const names[] = {"Classic",         "plain TF-IDF",
                                     "plain BM25",      "Best match",
                                     "Classic, program", "Best match, program"};
        for (const bool title : {false, true})
            for (size_t r = 0; r < std::size(rankers); ++r)
                PrintRow(names[r], title ? "title" : "full", Measure(s, *rankers[r], title));
    }
    return 0;
}
