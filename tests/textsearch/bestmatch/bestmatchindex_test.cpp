// The index against a plain, slow evaluation of the same formula over the live entries' words,
// on random small knowledge bases changed by random adds and removes: the same entries listed,
// in the same order, with the same scores bit for bit, percentages and matching texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/words/words.h"

namespace {

struct TRefEntry {
    std::string problem, solution;
    bool live = true;
    std::map<std::string, TFieldCounts> terms;
    TFieldCounts lengths;
};

TRefEntry MakeEntry(std::string problem, std::string solution) {
    TRefEntry e;
    e.problem = std::move(problem);
    e.solution = std::move(solution);
    const uint32_t titleEnd = FirstLineEnd(e.problem);
    // A word counts once in its field's length, and under its accented form too when it has one.
    auto count = [&](const TWord& w, uint32_t TFieldCounts::*field) {
        ++(e.lengths.*field);
        ++(e.terms[w.term].*field);
        if (!w.exact.empty() && w.exact != w.term) ++(e.terms[w.exact].*field);
    };
    for (const TWord& w : ReadWords(e.problem).words)
        count(w, w.place.begin < titleEnd ? &TFieldCounts::title : &TFieldCounts::problem);
    for (const TWord& w : ReadWords(e.solution).words)
        count(w, &TFieldCounts::solution);
    return e;
}

// Best match's ranking, read straight from its definition.
class TReference {
public:
    std::vector<TRefEntry> entries;

    TBestMatchStats Stats() const {
        TBestMatchStats s;
        for (const TRefEntry& e : entries)
            if (e.live) {
                ++s.entries;
                s.titleWords += e.lengths.title;
                s.problemWords += e.lengths.problem;
                s.solutionWords += e.lengths.solution;
            }
        return s;
    }
    uint32_t Df(const std::string& term) const {
        uint32_t df = 0;
        for (const TRefEntry& e : entries)
            df += e.live && e.terms.count(term);
        return df;
    }

    std::vector<TBestMatchHit> Search(const std::vector<TQueryWord>& query,
                                      const TBestMatchParams& p) const {
        const TBestMatchStats stats = Stats();
        std::vector<TBestMatchHit> hits;
        if (stats.entries == 0) return hits;
        const TBm25f bm(p, stats);
        const float n = static_cast<float>(stats.entries);
        const float commonAbove = stats.entries >= kCommonFromEntries ? p.commonShare * n : n;
        // The live terms' document frequencies, counted once, and the terms in order.
        std::unordered_map<std::string, uint32_t> dfs;
        for (const TRefEntry& e : entries)
            if (e.live)
                for (const auto& [t, c] : e.terms)
                    ++dfs[t];
        std::vector<std::string> vocabulary;
        for (const auto& [t, df] : dfs)
            vocabulary.push_back(t);
        std::sort(vocabulary.begin(), vocabulary.end());
        auto Df = [&](const std::string& t) -> uint32_t {
            const auto it = dfs.find(t);
            return it == dfs.end() ? 0 : it->second;
        };

        struct TForm {
            std::string term;
            float factor;
            bool common;
        };
        struct TWordForms {
            std::vector<TForm> forms;
            float weight, best = 0;
        };
        std::vector<TWordForms> words;
        std::vector<const TQueryWord*> seen;
        for (const TQueryWord& w : query) {
            auto same = [&](const TQueryWord* o) {
                return o->terms == w.terms && o->exact == w.exact && o->prefix == w.prefix;
            };
            if (std::any_of(seen.begin(), seen.end(), same)) continue;
            seen.push_back(&w);
            const float qtf = static_cast<float>(
                std::count_if(query.begin(), query.end(), [&](const TQueryWord& o) {
                    return o.terms == w.terms && o.exact == w.exact && o.prefix == w.prefix;
                }));
            TWordForms q{{}, (p.k3 + 1.0f) * qtf / (p.k3 + qtf)};
            // A word's own forms share the rarity of the commonest of them.
            uint32_t wordDf = 0;
            for (const std::string& t : w.terms)
                wordDf = std::max(wordDf, Df(t));
            if (!w.exact.empty()) wordDf = std::max(wordDf, Df(w.exact));
            auto add = [&](const std::string& t, float weight, uint32_t df) {
                if (Df(t) == 0) return;
                for (const TForm& f : q.forms)
                    if (f.term == t) return;
                q.forms.push_back({t, weight * bm.Idf(df), static_cast<float>(df) > commonAbove});
            };
            for (const std::string& t : w.terms)
                add(t, 1.0f, wordDf);
            if (!w.exact.empty()) add(w.exact, 1.0f, wordDf);
            if (!w.prefix.empty()) {
                std::vector<std::string> begun;
                for (const std::string& t : vocabulary)
                    if (t.starts_with(w.prefix)) begun.push_back(t);
                std::stable_sort(begun.begin(), begun.end(),
                                 [&](const auto& a, const auto& b) { return Df(a) > Df(b); });
                if (begun.size() > p.prefixTerms) begun.resize(p.prefixTerms);
                for (const std::string& t : begun)
                    add(t, p.prefixWeight, Df(t));
            }
            if (q.forms.empty()) continue;
            for (const TForm& f : q.forms)
                q.best = std::max(q.best, f.factor);
            words.push_back(q);
        }
        if (words.size() > p.maxQueryWords) {
            std::vector<size_t> order(words.size());
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return words[a].weight * words[a].best > words[b].weight * words[b].best;
            });
            order.resize(p.maxQueryWords);
            std::sort(order.begin(), order.end());
            std::vector<TWordForms> kept;
            for (const size_t i : order)
                kept.push_back(words[i]);
            words = kept;
        }
        float reachable = 0;
        for (const TWordForms& q : words)
            reachable += q.weight * q.best * bm.Saturate(p.wTitle + p.wProblem);

        std::vector<TBestMatchHit> all;
        float top = 0;
        for (uint32_t d = 0; d < entries.size(); ++d) {
            const TRefEntry& e = entries[d];
            if (!e.live) continue;
            bool candidate = false;
            float score = 0, problem = 0, solution = 0;
            for (const TWordForms& q : words) {
                float f = 0, fp = 0, fs = 0;
                for (const TForm& form : q.forms) {
                    const auto it = e.terms.find(form.term);
                    if (it == e.terms.end()) continue;
                    candidate = candidate || !form.common;
                    const float pt = bm.ProblemTf(it->second, e.lengths);
                    const float st = bm.SolutionTf(it->second, e.lengths);
                    f = std::max(f, form.factor * bm.Saturate(pt + st));
                    if (pt > 0) fp = std::max(fp, form.factor * bm.Saturate(pt));
                    if (st > 0) fs = std::max(fs, form.factor * bm.Saturate(st));
                }
                score += q.weight * f;
                problem += q.weight * fp;
                solution += q.weight * fs;
            }
            if (!candidate) continue;
            top = std::max(top, score);
            all.push_back({d, score, std::min(100.0f, 100.0f * score / reachable),
                           problem >= solution ? 'P' : 'S'});
        }
        for (const TBestMatchHit& h : all)
            if (h.score >= p.relativeCut * top && h.percent >= p.minPercent) hits.push_back(h);
        std::stable_sort(hits.begin(), hits.end(),
                         [](const auto& a, const auto& b) { return a.score > b.score; });
        if (hits.size() > p.limit) hits.resize(p.limit);
        return hits;
    }
};

const char* const kWords[] = {"printer",     "printers", "printing",      "print",  "paper", "jam",
                              "tray",        "network",  "networks",      "driver", "the",   "a",
                              "error",       "errors",   "reboot",        "cable",  "toner", "x11",
                              "caf\xC3\xA9", "cafe",     "r\xC3\xA9seau", "reseaux"};

std::string RandomText(std::mt19937& rng, size_t maxWords) {
    std::string text;
    const size_t words = rng() % (maxWords + 1);
    for (size_t i = 0; i < words; ++i) {
        if (i > 0) text += rng() % 6 == 0 ? "\r\n" : rng() % 5 == 0 ? ", " : " ";
        std::string w = kWords[rng() % std::size(kWords)];
        if (rng() % 7 == 0) w[0] = static_cast<char>(w[0] - 'a' + 'A');
        text += w;
    }
    return text;
}

std::vector<TQueryWord> RandomQuery(std::mt19937& rng) {
    std::string text = RandomText(rng, 6);
    if (rng() % 4 == 0) text += " zzunknown";
    const bool typing = rng() % 2 == 0;
    if (typing && !text.empty() && rng() % 2 == 0) {
        const size_t cut = 1 + rng() % 3;
        if (text.size() > cut && std::isalpha(static_cast<unsigned char>(text.back())))
            text.resize(text.size() - cut + 1);
    }
    const std::string languages[] = {"english"};
    return ReadQueryWords(text, languages, typing);
}

TBestMatchParams RandomParams(std::mt19937& rng) {
    TBestMatchParams p;
    p.k1 = std::vector<float>{0.5f, 1.2f, 2.0f}[rng() % 3];
    p.bTitle = std::vector<float>{0.0f, 0.5f, 1.0f}[rng() % 3];
    p.bProblem = std::vector<float>{0.3f, 0.75f, 1.0f}[rng() % 3];
    p.wTitle = std::vector<float>{1.0f, 2.5f}[rng() % 2];
    p.wSolution = std::vector<float>{0.5f, 1.0f}[rng() % 2];
    p.idfPower = std::vector<float>{1.0f, 2.0f}[rng() % 2];
    p.k3 = std::vector<float>{0.0f, 1.5f}[rng() % 2];
    p.prefixTerms = 1 + rng() % 4;
    p.maxQueryWords = 2 + rng() % 6;
    p.commonShare = std::vector<float>{0.3f, 0.5f, 1.0f}[rng() % 3];
    p.relativeCut = std::vector<float>{0.0f, 0.3f}[rng() % 2];
    p.minPercent = std::vector<float>{0.0f, 10.0f}[rng() % 2];
    p.limit = 1 + rng() % 12;
    return p;
}

// An index's image in parts of an odd few bytes, so that values lie across parts.
std::vector<std::string> ImageOf(const TBestMatchIndex& index) {
    std::vector<std::string> parts;
    TImageWriter out(61, [&](std::string_view part) { parts.emplace_back(part); });
    index.Save(out);
    out.Finish();
    return parts;
}

// Restores the image's first `size` bytes (all of them by default).
bool RestoreFrom(TBestMatchIndex& index, const std::vector<std::string>& parts,
                 uint64_t size = UINT64_MAX) {
    uint64_t whole = 0;
    for (const std::string& part : parts)
        whole += part.size();
    size = std::min(size, whole);
    size_t next = 0;
    uint64_t given = 0;
    TImageReader in(size, [&](std::string_view& part) {
        if (next == parts.size() || given == size) return false;
        part = std::string_view(parts[next++]).substr(0, size - given);
        given += part.size();
        return true;
    });
    return index.Restore(in) && in.Left() == 0;
}

TEST(BestMatchIndex, RanksAsTheFormulaSaysThroughAddsAndRemoves) {
    std::mt19937 rng(20261209);
    size_t listed = 0, compared = 0;
    for (int kb = 0; kb < 40; ++kb) {
        // Every fifth knowledge base adds one entry at a time and removes enough of them for the
        // index to rewrite its lists without the removed ones.
        const bool churn = kb % 5 == 0;
        const TBestMatchParams params = RandomParams(rng);
        TBestMatchIndex index(ReadWords, params);
        TReference ref;
        const size_t steps = churn ? 400 : 20 + rng() % 150;
        std::vector<TQueryWord> previous;
        for (size_t step = 0; step < steps; ++step) {
            const unsigned action = rng() % 10;
            if (action < 5 || ref.entries.empty()) {
                std::vector<TRefEntry> batch;
                const size_t count = action == 0 && !churn ? 1 + rng() % 40 : 1;
                for (size_t i = 0; i < count; ++i)
                    batch.push_back(MakeEntry(RandomText(rng, 14), RandomText(rng, 10)));
                std::vector<TEntryText> texts;
                for (const TRefEntry& e : batch)
                    texts.push_back({e.problem, e.solution});
                const uint32_t first = count > 1 ? index.AddBatch(texts) : index.Add(texts.front());
                ASSERT_EQ(first, ref.entries.size());
                ref.entries.insert(ref.entries.end(), batch.begin(), batch.end());
            } else if (action < 8) {
                const uint32_t d = static_cast<uint32_t>(rng() % ref.entries.size());
                TRefEntry& e = ref.entries[d];
                // With its own texts, with none, or with texts it was not added with.
                const unsigned how = rng() % 3;
                if (how == 0)
                    index.Remove(d, {e.problem, e.solution});
                else if (how == 1)
                    index.Remove(d);
                else
                    index.Remove(d, {"printer jam", e.solution + " tray"});
                e.live = false;
            } else {
                // Every other search repeats the one before, across the changes made since,
                // which it must not list as they were.
                if (previous.empty() || rng() % 2) previous = RandomQuery(rng);
                const std::vector<TQueryWord> query = previous;
                const std::vector<TBestMatchHit> got = index.Search(query);
                const std::vector<TBestMatchHit> want = ref.Search(query, params);
                ASSERT_EQ(got.size(), want.size()) << "kb " << kb << " step " << step;
                // The index read back from its image, removed entries and rewritten lists
                // included, searches as the index does.
                TBestMatchIndex restored(ReadWords, params);
                ASSERT_TRUE(RestoreFrom(restored, ImageOf(index)));
                const std::vector<TBestMatchHit> again = restored.Search(query);
                ASSERT_EQ(again.size(), got.size());
                for (size_t i = 0; i < got.size(); ++i)
                    ASSERT_TRUE(again[i].doc == got[i].doc && again[i].score == got[i].score);
                for (size_t i = 0; i < got.size(); ++i) {
                    EXPECT_EQ(got[i].doc, want[i].doc) << "kb " << kb << " step " << step;
                    EXPECT_EQ(got[i].score, want[i].score);
                    EXPECT_EQ(got[i].percent, want[i].percent);
                    EXPECT_EQ(got[i].text, want[i].text);
                    EXPECT_GT(got[i].percent, 0.0f);
                    EXPECT_LE(got[i].percent, 100.0f);
                }
                listed += got.size();
                ++compared;
            }
            const TBestMatchStats a = index.Stats(), b = ref.Stats();
            ASSERT_EQ(a.entries, b.entries);
            ASSERT_EQ(a.titleWords, b.titleWords);
            ASSERT_EQ(a.problemWords, b.problemWords);
            ASSERT_EQ(a.solutionWords, b.solutionWords);
        }
        for (const char* w : kWords)
            for (const TWord& read : ReadWords(w).words)
                for (const std::string& term : {read.term, read.exact})
                    EXPECT_EQ(index.DocumentFrequency(term), ref.Df(term)) << w;
        // An image cut short anywhere is refused, and leaves the index it was read into as it
        // was.
        const std::vector<std::string> image = ImageOf(index);
        const uint64_t size = [&] {
            uint64_t n = 0;
            for (const std::string& part : image)
                n += part.size();
            return n;
        }();
        const std::vector<TQueryWord> query = RandomQuery(rng);
        const size_t before = index.Search(query).size();
        for (int cut = 0; cut < 20; ++cut)
            ASSERT_FALSE(RestoreFrom(index, image, rng() % size)) << "kb " << kb;
        EXPECT_EQ(index.Search(query).size(), before);
        EXPECT_EQ(index.LiveCount(), ref.Stats().entries);
    }
    // The cases compared held real lists, not only empty ones.
    EXPECT_GT(compared, 500u);
    EXPECT_GT(listed, 2 * compared);
}

// Long lists read in blocks: knowledge bases of a few thousand entries whose common words are in
// most of them, searched for long pasted texts (hundreds of words, the common ones typed many
// times), single common words being typed and short queries, while entries are removed until the
// lists are rewritten and after: the same hits as the formula's, scores bit for bit.
TEST(BestMatchIndex, LongQueriesOverLongListsRankAsTheFormulaSays) {
    std::mt19937 rng(20261211);
    // Ranks drawn about as often as 1 / rank: the first words are in most entries.
    auto word = [&]() -> std::string {
        const double u = std::uniform_real_distribution<double>(0, 1)(rng);
        const auto rank = static_cast<size_t>(std::pow(600.0, u)) - 1;
        if (rank < std::size(kWords) && rng() % 2 == 0) return kWords[rank];
        return "w" + std::to_string(rank) + (rank % 5 == 0 ? "ing" : "");
    };
    auto text = [&](size_t minWords, size_t maxWords) {
        std::string t;
        for (size_t n = minWords + rng() % (maxWords - minWords + 1); n > 0; --n)
            t += word() + (rng() % 9 == 0 ? "\n" : " ");
        return t;
    };
    const std::string languages[] = {"english"};
    size_t listed = 0, compared = 0;
    for (int kb = 0; kb < 3; ++kb) {
        TBestMatchParams params;
        params.limit = std::vector<uint32_t>{1, 8, 40}[kb];
        params.minPercent = kb == 2 ? 0.0f : params.minPercent;
        TBestMatchIndex index(ReadWords, params);
        TReference ref;
        std::vector<TRefEntry> batch;
        for (int i = 0; i < 1500; ++i)
            batch.push_back(MakeEntry(text(3, 30), text(5, 60)));
        std::vector<TEntryText> texts;
        for (const TRefEntry& e : batch)
            texts.push_back({e.problem, e.solution});
        index.AddBatch(std::span(texts).first(1200));
        for (size_t i = 1200; i < texts.size(); ++i)
            index.Add(texts[i]);
        ref.entries = batch;
        for (int round = 0; round < 40; ++round) {
            // A third of the entries go over the rounds: the lists are rewritten halfway.
            // Every third round, many at once, some twice or gone already.
            std::vector<TBestMatchIndex::DocId> many;
            for (int r = 0; r < (round % 3 == 0 ? 40 : 12); ++r) {
                const auto d = static_cast<uint32_t>(rng() % ref.entries.size());
                if (round % 3 == 0)
                    many.push_back(d);
                else if (rng() % 2 == 0)
                    index.Remove(d);
                else
                    index.Remove(d, {ref.entries[d].problem, ref.entries[d].solution});
                ref.entries[d].live = false;
            }
            index.RemoveMany(many);
            std::string typed;
            const unsigned kind = round % 4;
            if (kind == 0) typed = text(100, 600);
            if (kind == 1) typed = std::string(kWords[rng() % 3]).substr(0, 2 + rng() % 3);
            if (kind == 2) typed = text(1, 5) + "w" + std::to_string(rng() % 30);
            // A rare word beside commoner ones: their lists are read for the few entries left.
            if (kind == 3) {
                const std::string usual = "w" + std::to_string(8 + rng() % 12);
                typed = "w" + std::to_string(200 + rng() % 400) + " " + usual + " " + usual + " " +
                        kWords[rng() % 3] + " " + std::string(kWords[rng() % 3]).substr(0, 3);
            }
            const std::vector<TQueryWord> query = ReadQueryWords(typed, languages, kind != 0);
            const std::vector<TBestMatchHit> got = index.Search(query);
            const std::vector<TBestMatchHit> want = ref.Search(query, params);
            ASSERT_EQ(got.size(), want.size()) << "kb " << kb << " round " << round;
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].doc, want[i].doc) << "kb " << kb << " round " << round;
                EXPECT_EQ(got[i].score, want[i].score);
                EXPECT_EQ(got[i].percent, want[i].percent);
                EXPECT_EQ(got[i].text, want[i].text);
            }
            listed += got.size();
            ++compared;
        }
    }
    EXPECT_GT(listed, 10 * compared);
}

// A batch of many entries, read on two threads a slice at a time with new words in every slice,
// indexes as the same entries added one by one: the same statistics, rarities and lists, and
// removing entries by their texts finds their terms again.
TEST(BestMatchIndex, ALargeBatchIndexesAsEntriesAddedOneByOne) {
    std::mt19937 rng(20261210);
    auto text = [&](size_t maxWords) {
        std::string t = RandomText(rng, maxWords);
        for (size_t i = rng() % 4; i > 0; --i)
            t += " w" + std::to_string(rng() % 3000) + (rng() % 3 == 0 ? "ing" : "");
        return t;
    };
    std::vector<std::string> problems, solutions;
    for (int i = 0; i < 1000; ++i) {
        problems.push_back(text(14));
        solutions.push_back(text(10));
    }
    TBestMatchParams params;
    params.limit = 25;
    TBestMatchIndex batch(ReadWords, params), single(ReadWords, params);
    std::vector<TEntryText> texts;
    for (size_t i = 0; i < problems.size(); ++i) {
        texts.push_back({problems[i], solutions[i]});
        single.Add(texts.back());
    }
    // A few first on their own, so that the batch meets a dictionary that holds words already.
    for (size_t i = 0; i < 30; ++i)
        batch.Add(texts[i]);
    ASSERT_EQ(batch.AddBatch(std::span(texts).subspan(30)), 30u);
    for (size_t i = 0; i < texts.size(); i += 7) {
        const auto d = static_cast<uint32_t>(i);
        batch.Remove(d, texts[i]);
        single.Remove(d);
    }
    ASSERT_EQ(batch.Stats().entries, single.Stats().entries);
    EXPECT_EQ(batch.Stats().titleWords, single.Stats().titleWords);
    EXPECT_EQ(batch.Stats().problemWords, single.Stats().problemWords);
    EXPECT_EQ(batch.Stats().solutionWords, single.Stats().solutionWords);
    for (int w = 0; w < 3000; w += 13) {
        const std::string term = "w" + std::to_string(w);
        EXPECT_EQ(batch.DocumentFrequency(term), single.DocumentFrequency(term)) << term;
    }
    const std::string languages[] = {"english"};
    for (int q = 0; q < 60; ++q) {
        const std::vector<TQueryWord> query = ReadQueryWords(text(4), languages, q % 2 == 0);
        const std::vector<TBestMatchHit> a = batch.Search(query), b = single.Search(query);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].doc, b[i].doc);
            EXPECT_EQ(a[i].score, b[i].score);
            EXPECT_EQ(a[i].text, b[i].text);
        }
    }
    EXPECT_EQ(batch.LiveCount(), texts.size() - (texts.size() + 6) / 7);
}

}  // namespace
