// relevance [--data DIR] [--tune]: the figures of Classic, plain TF-IDF, plain BM25 and Best
// match on the labelled data in DIR (default /work/shared/relevance), for full and title-only
// queries, as a Markdown table. --tune searches Best match's constants on the tuning splits
// (SemEval dev, GitBugs Hadoop) and prints the best it found; the held-out splits are only
// measured.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/relevance.h"
#include "bench/standinwords.h"
#include "core/searchindex.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/cvvector.h"

using namespace relevance;

namespace {

// Classic as the program ranks: every text's stored vector in the real search index, an entry
// listed by its best text, equal scores in the order the results panel draws them (the text
// found later first).
class TClassicRanker : public TRanker {
public:
    explicit TClassicRanker(const std::vector<TEntry>& entries) {
        std::vector<TStoredText> texts;
        for (size_t e = 0; e < entries.size(); ++e) {
            fids.push_back(std::to_string(e));
            for (const bool problem : {true, false}) {
                const std::string& text = problem ? entries[e].problem : entries[e].solution;
                if (text.empty()) continue;
                fvectors.push_back(EncodeCV(text)->Text());
                fheads.push_back(text.substr(0, kHitTextBytes));
            }
        }
        size_t v = 0;
        for (size_t e = 0; e < entries.size(); ++e)
            for (const bool problem : {true, false}) {
                if ((problem ? entries[e].problem : entries[e].solution).empty()) continue;
                texts.push_back(TStoredText{static_cast<int64_t>(v + 1), fids[e],
                                            problem ? "P" : "S", fvectors[v], fheads[v]});
                ++v;
            }
        findex.Add(texts);
    }
    std::vector<size_t> Rank(const std::string& query) override {
        const std::unique_ptr<TSearchPass> pass = findex.Search(*EncodeCV(query));
        std::map<size_t, std::pair<float, size_t>> best;  // entry -> score, position found
        for (size_t i = 0; i < pass->hits.size(); ++i) {
            const TcvResults& hit = pass->hits[i];
            const size_t e = std::stoul(std::string(hit.ID));
            auto [it, added] = best.try_emplace(e, hit.Proximity, i);
            if (!added && hit.Proximity >= it->second.first) it->second = {hit.Proximity, i};
        }
        std::vector<std::pair<std::pair<float, size_t>, size_t>> order;
        for (const auto& [e, key] : best)
            order.push_back({key, e});
        std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
            return a.first.first != b.first.first ? a.first.first > b.first.first
                                                  : a.first.second > b.first.second;
        });
        std::vector<size_t> out;
        for (const auto& o : order)
            out.push_back(o.second);
        return out;
    }

private:
    TSearchIndex findex;
    std::vector<std::string> fids, fvectors, fheads;
};

// The plain baselines: one bag of Porter stems per entry (both texts), every entry with a term in
// common listed.
class TBagRanker : public TRanker {
public:
    enum class TKind { TfIdf, Bm25 };
    TBagRanker(const std::vector<TEntry>& entries, TKind kind) : fkind(kind) {
        for (const TEntry& e : entries) {
            std::unordered_map<std::string, float> bag;
            float length = 0;
            for (const TWord& w : StandInReadWords(e.problem + "\n" + e.solution).words) {
                bag[w.term] += 1;
                ++length;
            }
            for (const auto& [t, n] : bag)
                ++fdf[t];
            fbags.push_back(std::move(bag));
            flengths.push_back(length);
            favg += length;
        }
        favg /= static_cast<float>(entries.size());
        if (kind == TKind::TfIdf)
            for (auto& bag : fbags) {
                double norm = 0;
                for (auto& [t, n] : bag) {
                    n *= Idf(t);
                    norm += n * n;
                }
                for (auto& [t, n] : bag)
                    n /= static_cast<float>(std::sqrt(norm));
            }
    }
    std::vector<size_t> Rank(const std::string& query) override {
        std::unordered_map<std::string, float> q;
        for (const TWord& w : StandInReadWords(query).words)
            if (fdf.count(w.term)) q[w.term] += 1;
        double norm = 0;
        for (auto& [t, n] : q) {
            if (fkind == TKind::TfIdf) n *= Idf(t);
            norm += n * n;
        }
        std::vector<std::pair<double, size_t>> scored;
        for (size_t d = 0; d < fbags.size(); ++d) {
            double s = 0;
            for (const auto& [t, n] : q) {
                const auto it = fbags[d].find(t);
                if (it == fbags[d].end()) continue;
                if (fkind == TKind::TfIdf) {
                    s += n * it->second;
                } else {
                    const double tf = it->second, k1 = 1.2, b = 0.75;
                    const double df = fdf[t], n_ = static_cast<double>(fbags.size());
                    s += n * std::log(1 + (n_ - df + 0.5) / (df + 0.5)) * tf * (k1 + 1) /
                         (tf + k1 * (1 - b + b * flengths[d] / favg));
                }
            }
            if (fkind == TKind::TfIdf && norm > 0) s /= std::sqrt(norm);
            if (s > 0) scored.push_back({-s, d});
        }
        std::sort(scored.begin(), scored.end());
        std::vector<size_t> out;
        for (const auto& [s, d] : scored)
            out.push_back(d);
        return out;
    }

private:
    // The smoothed idf of the common TF-IDF weighting.
    float Idf(const std::string& t) {
        const float n = static_cast<float>(fbags.size());
        return std::log((1 + n) / (1 + static_cast<float>(fdf[t]))) + 1;
    }
    TKind fkind;
    std::vector<std::unordered_map<std::string, float>> fbags;
    std::vector<float> flengths;
    std::unordered_map<std::string, float> fdf;
    float favg = 0;
};

// Best match: the one call the program makes for a query, ranked over the knowledge base.
class TBestRanker : public TRanker {
public:
    TBestRanker(const std::vector<TEntry>& entries, const TBestMatchParams& params)
        : findex(StandInReadWords, params) {
        std::vector<TEntryText> texts;
        for (const TEntry& e : entries)
            texts.push_back(TEntryText{e.problem, e.solution});
        findex.AddBatch(texts);
    }
    std::vector<size_t> Rank(const std::string& query) override {
        const std::string languages[] = {"english"};
        const std::vector<TQueryWord> words = StandInReadQueryWords(query, languages, false);
        std::vector<size_t> out;
        for (const TBestMatchHit& h : findex.Search(words))
            out.push_back(h.doc);
        return out;
    }
    TBestMatchIndex& Index() { return findex; }

private:
    TBestMatchIndex findex;
};

void PrintRow(const char* ranking, const char* queries, const TFigures& f) {
    std::printf("| %s | %s | %.1f | %.1f | %.1f | %.1f | %.0f |\n", ranking, queries, f.m[0],
                f.m[1], f.m[2], f.m[3], f.medianListed);
}

// What tuning maximises: the tuning splits' headline figures, full and title-only queries alike.
double Objective(const std::vector<TSplit>& tuning, std::vector<std::unique_ptr<TBestRanker>>& rs,
                 const TBestMatchParams& p, double* medianOut = nullptr) {
    double sum = 0, median = 0;
    for (size_t i = 0; i < tuning.size(); ++i) {
        rs[i]->Index().SetParams(p);
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
    std::vector<std::unique_ptr<TBestRanker>> rankers;
    for (const TSplit& s : tuning)
        rankers.push_back(std::make_unique<TBestRanker>(s.entries, TBestMatchParams{}));
    TBestMatchParams best;
    double bestScore = Objective(tuning, rankers, best);
    std::printf("start: %.2f\n", bestScore);
    struct TKnob {
        const char* name;
        float TBestMatchParams::*field;
        std::vector<float> values;
    };
    const std::vector<TKnob> knobs = {
        {"k1", &TBestMatchParams::k1, {0.4f, 0.6f, 0.8f, 1.0f, 1.2f, 1.5f, 2.0f, 3.0f}},
        {"bTitle", &TBestMatchParams::bTitle, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}},
        {"bProblem", &TBestMatchParams::bProblem, {0.2f, 0.4f, 0.5f, 0.6f, 0.75f, 0.9f, 1.0f}},
        {"wTitle", &TBestMatchParams::wTitle, {0.5f, 1.0f, 1.5f, 2.0f, 3.0f, 4.0f, 6.0f}},
        {"k3", &TBestMatchParams::k3, {0.0f, 0.5f, 1.0f, 2.0f, 5.0f, 1000.0f}},
        {"relativeCut", &TBestMatchParams::relativeCut, {0.0f, 0.05f, 0.1f, 0.15f, 0.2f, 0.3f}},
        {"minPercent", &TBestMatchParams::minPercent, {0.0f, 1.0f, 2.0f, 3.0f, 5.0f, 8.0f}},
        {"commonShare", &TBestMatchParams::commonShare, {0.1f, 0.2f, 0.3f, 0.5f, 1.0f}},
    };
    for (int round = 0; round < 3; ++round)
        for (const TKnob& k : knobs)
            for (const float v : k.values) {
                TBestMatchParams p = best;
                p.*k.field = v;
                double median = 0;
                const double score = Objective(tuning, rankers, p, &median);
                if (score > bestScore + 1e-9 && median <= 100) {
                    bestScore = score;
                    best = p;
                    std::printf("round %d: %s = %g -> %.2f (median listed %.0f)\n", round, k.name,
                                v, score, median);
                }
            }
    for (const uint32_t q : {16u, 24u, 32u, 48u, 64u, 96u, 128u, 1000u}) {
        TBestMatchParams p = best;
        p.maxQueryWords = q;
        double median = 0;
        const double score = Objective(tuning, rankers, p, &median);
        std::printf("maxQueryWords %u -> %.2f\n", q, score);
        if (score > bestScore + 1e-9 && median <= 100) {
            bestScore = score;
            best = p;
        }
    }
    std::printf(
        "best %.2f: k1 %g bTitle %g bProblem %g wTitle %g k3 %g relativeCut %g minPercent %g "
        "commonShare %g maxQueryWords %u\n",
        bestScore, best.k1, best.bTitle, best.bProblem, best.wTitle, best.k3, best.relativeCut,
        best.minPercent, best.commonShare, best.maxQueryWords);
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
        TClassicRanker classic(s.entries);
        TBagRanker tfidf(s.entries, TBagRanker::TKind::TfIdf);
        TBagRanker bm25(s.entries, TBagRanker::TKind::Bm25);
        TBestRanker best(s.entries, TBestMatchParams{});
        const std::pair<const char*, TRanker*> rankings[] = {{"Classic", &classic},
                                                             {"plain TF-IDF", &tfidf},
                                                             {"plain BM25", &bm25},
                                                             {"Best match", &best}};
        for (const bool title : {false, true})
            for (const auto& [name, ranker] : rankings)
                PrintRow(name, title ? "title" : "full", Measure(s, *ranker, title));
    }
    return 0;
}
