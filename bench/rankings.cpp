// The rankings the relevance benchmark compares (see relevance.h).
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <filesystem>
#include <unistd.h>

#include "bench/relevance.h"
#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/cvvector.h"
#include "textsearch/words/words.h"

namespace relevance {
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
                                            problem ? "P" : "S", fvectors[v], fheads[v], {}});
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
            for (const TWord& w : ReadWords(e.problem + "\n" + e.solution).words) {
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
        for (const TWord& w : ReadWords(query).words)
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
        : findex(ReadWords, params) {
        std::vector<TEntryText> texts;
        for (const TEntry& e : entries)
            texts.push_back(TEntryText{e.problem, e.solution});
        findex.AddBatch(texts);
        flanguages = findex.Languages();
    }
    std::vector<size_t> Rank(const std::string& query) override {
        const std::vector<TQueryWord> words = ReadQueryWords(query, flanguages, false);
        std::vector<size_t> out;
        for (const TBestMatchHit& h : findex.Search(words))
            out.push_back(h.doc);
        return out;
    }
    TBestMatchIndex& Index() { return findex; }

private:
    TBestMatchIndex findex;
    std::vector<std::string> flanguages;
};

// Either ranking as the program runs it: a knowledge base file written through the file store,
// loaded by a store opened for reading into the program's search index, and each query searched
// in its stored form, as `pelloquin-kb search --ranking` does.
class TProgramRanker : public TRanker {
public:
    TProgramRanker(const std::vector<TEntry>& entries, ::TRanking ranking)
        : fdir(std::filesystem::temp_directory_path() /
               ("pelloquin-relevance-" + std::to_string(getpid()))),
          findex(ranking) {
        std::filesystem::remove_all(fdir);
        std::filesystem::create_directories(fdir);
        const std::string file = kb::KnowledgeBaseFile(fdir.string() + "/");
        {
            TSQLiteStore writer(file);
            writer.Open();
            for (size_t e = 0; e < entries.size(); ++e)
                fentry[writer.SaveEntry(StoredFromUtf8(entries[e].problem),
                                        StoredFromUtf8(entries[e].solution), nullptr)] = e;
        }
        // Kept open: Best match's passes read their rows' texts back through it.
        fstore = std::make_unique<TSQLiteStore>(file, TOpenMode::ReadOnly);
        fstore->Open();
        fstore->LoadAll(findex);
        findex.Settle();
    }
    ~TProgramRanker() override {
        std::error_code ignored;
        std::filesystem::remove_all(fdir, ignored);
    }
    std::vector<size_t> Rank(const std::string& query) override {
        const std::string stored = StoredFromUtf8(query);
        const auto pass = findex.Ranking() == ::TRanking::BestMatch
                              ? findex.SearchBest(stored, false)
                              : findex.Search(*EncodeCV(stored));
        std::vector<size_t> out;
        std::vector<bool> listed(fentry.size());
        for (int p = pass->tree->Count() - 1; p >= 0; --p) {
            const size_t e = fentry.at(std::string(pass->tree->Items(p)->data->ID));
            if (!listed[e]) out.push_back(e);  // an entry by its best text
            listed[e] = true;
        }
        return out;
    }

private:
    std::filesystem::path fdir;
    std::unique_ptr<TSQLiteStore> fstore;  // outlives the index, which reads through it
    TSearchIndex findex;
    std::unordered_map<std::string, size_t> fentry;  // entry ID -> entry
};

}  // namespace

std::unique_ptr<TRanker> MakeProgram(const std::vector<TEntry>& entries, ::TRanking ranking) {
    return std::make_unique<TProgramRanker>(entries, ranking);
}

std::unique_ptr<TRanker> MakeClassic(const std::vector<TEntry>& entries) {
    return std::make_unique<TClassicRanker>(entries);
}
std::unique_ptr<TRanker> MakeTfIdf(const std::vector<TEntry>& entries) {
    return std::make_unique<TBagRanker>(entries, TBagRanker::TKind::TfIdf);
}
std::unique_ptr<TRanker> MakeBm25(const std::vector<TEntry>& entries) {
    return std::make_unique<TBagRanker>(entries, TBagRanker::TKind::Bm25);
}
std::unique_ptr<TRanker> MakeBestMatch(const std::vector<TEntry>& entries,
                                       const TBestMatchParams& params) {
    return std::make_unique<TBestRanker>(entries, params);
}

void SetBestMatchParams(TRanker& ranker, const TBestMatchParams& params) {
    dynamic_cast<TBestRanker&>(ranker).Index().SetParams(params);
}

}  // namespace relevance
