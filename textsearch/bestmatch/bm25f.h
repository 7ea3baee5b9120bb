// The arithmetic of Best match's score, in one place, so that the index and anything that checks
// it compute each number in the same 32-bit float operations and the same order.
//
// An entry has three fields: its title (the problem's first line), the rest of the problem, and
// the solution. A stored term's weight in an entry is its rarity in the knowledge base (idf)
// times a saturated blend of its counts in the three fields, each count divided by its field's
// length relative to that field's average (BM25F):
//   tf~ = wT tfT / nT + wB tfB / nB + wS tfS / nS,  n = 1 - b + b len / avglen
//   weight = idf^p (k1 + 1) tf~ / (k1 + tf~),        idf = ln(1 + (N - df + 0.5) / (df + 0.5))
// Thread safety: plain values and functions.
#pragma once

#include <cmath>
#include <cstdint>

// The constants of the ranking. The defaults are the ones tuned on the relevance data (see
// bench/README.md, "Relevance").
struct TBestMatchParams {
    float k1 = 3.0f;
    // Length normalisation of the title, the rest of the problem and the solution.
    float bTitle = 1.0f;
    float bProblem = 0.75f;
    float bSolution = 0.75f;
    // Weights of a word counted in each field.
    float wTitle = 6.0f;
    float wProblem = 1.0f;
    float wSolution = 1.0f;
    // A query word weighs its idf to this power: above 1 a long query leans on its rare words.
    float idfPower = 2.0f;
    // Query-side saturation of a word typed several times: weight (k3 + 1) qtf / (k3 + qtf);
    // 0 counts every word once.
    float k3 = 1000.0f;
    // A stored term that only begins with the word being typed counts this much of a whole word,
    // and the word reaches at most this many such terms (the commonest first).
    float prefixWeight = 0.5f;
    uint32_t prefixTerms = 16;
    // A long query (a pasted text) keeps this many of its distinct words, the weightiest.
    uint32_t maxQueryWords = 24;
    // A term in more than this share of the entries is common: an entry that shares only common
    // terms with the query is not listed (from kCommonFromEntries entries on).
    float commonShare = 0.5f;
    // Listed: at least this share of the best entry's score and this percentage of the best the
    // query can reach; at most `limit` entries.
    float relativeCut = 0.1f;
    float minPercent = 2.0f;
    uint32_t limit = 200;
};

// Below this many entries no term counts as common: "most texts" of three texts says nothing.
inline constexpr uint32_t kCommonFromEntries = 8;

// The statistics of the live entries that every weight depends on.
struct TBestMatchStats {
    uint32_t entries = 0;
    double titleWords = 0, problemWords = 0, solutionWords = 0;  // sums over the live entries
};

// A term's counts in one entry and that entry's field lengths.
struct TFieldCounts {
    uint32_t title = 0, problem = 0, solution = 0;
};

class TBm25f {
public:
    TBm25f(const TBestMatchParams& p, const TBestMatchStats& s)
        : fk1(p.k1), fidfPower(p.idfPower), fwT(p.wTitle), fwB(p.wProblem), fwS(p.wSolution) {
        const float n = s.entries > 0 ? static_cast<float>(s.entries) : 1.0f;
        SetField(fT, p.bTitle, static_cast<float>(s.titleWords) / n);
        SetField(fB, p.bProblem, static_cast<float>(s.problemWords) / n);
        SetField(fS, p.bSolution, static_cast<float>(s.solutionWords) / n);
        fentries = static_cast<float>(s.entries);
    }

    float Idf(uint32_t df) const {
        const float d = static_cast<float>(df);
        const float idf = std::log(1.0f + (fentries - d + 0.5f) / (d + 0.5f));
        return fidfPower == 1.0f ? idf : std::pow(idf, fidfPower);
    }
    float Saturate(float tf) const { return tf * (fk1 + 1.0f) / (fk1 + tf); }

    // The blended counts of the problem's two fields and of the solution.
    float ProblemTf(const TFieldCounts& tf, const TFieldCounts& len) const {
        return Part(fwT, fT, tf.title, len.title) + Part(fwB, fB, tf.problem, len.problem);
    }
    float SolutionTf(const TFieldCounts& tf, const TFieldCounts& len) const {
        return Part(fwS, fS, tf.solution, len.solution);
    }

    // The same blends with the inverse length norms of the three fields given (as a table of
    // InverseNorm's values would give them): what a search computes for many postings.
    float ProblemTf(const TFieldCounts& tf, float invTitle, float invProblem) const {
        return (tf.title == 0 ? 0.0f : fwT * static_cast<float>(tf.title) * invTitle) +
               (tf.problem == 0 ? 0.0f : fwB * static_cast<float>(tf.problem) * invProblem);
    }
    float SolutionTf(const TFieldCounts& tf, float invSolution) const {
        return tf.solution == 0 ? 0.0f : fwS * static_cast<float>(tf.solution) * invSolution;
    }
    // 1 / (1 - b + b len / avglen) of the title (0), the rest of the problem (1), the solution (2).
    float InverseNorm(int field, uint32_t len) const {
        return InverseNorm(field == 0 ? fT : field == 1 ? fB : fS, len);
    }

private:
    struct TField {
        float oneMinusB = 1, bOverAvg = 0;
    };
    static float InverseNorm(const TField& f, uint32_t len) {
        return 1.0f / (f.oneMinusB + f.bOverAvg * static_cast<float>(len));
    }
    static void SetField(TField& f, float b, float avg) {
        f.oneMinusB = 1.0f - b;
        f.bOverAvg = avg > 0 ? b / avg : 0.0f;
    }
    static float Part(float w, const TField& f, uint32_t tf, uint32_t len) {
        if (tf == 0) return 0.0f;
        return w * static_cast<float>(tf) * InverseNorm(f, len);
    }

    float fk1, fidfPower, fwT, fwB, fwS;
    TField fT, fB, fS;
    float fentries = 0;
};
