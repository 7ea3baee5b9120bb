// Synthetic knowledge bases for the benchmarks: help-desk-like problem and solution texts whose
// words follow a Zipf distribution over a large vocabulary, so that the commonest words turn up
// in nearly every text and the rare ones in almost none, as in a knowledge base kept for years.
//
// TTextGenerator makes the texts; everything it makes follows from its seed alone. Generate
// writes them into a real knowledge base file through the program's own save path
// (kb::SaveEntry), entry by entry in order, so the file's rows and their order follow from the
// seed too; only the entry IDs and the dates, which every save makes fresh, differ between two
// files of one seed. CachedKnowledgeBase keeps such files in a folder and makes them only once.
//
// Ownership: a generator owns its vocabulary and random state. Thread safety: none; one generator
// per thread. Generate and CachedKnowledgeBase touch only the files they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kbgen {

// Words in the vocabulary; every one has a stem of its own.
inline constexpr size_t kVocabulary = 24000;
// Words of one stored text, inclusive.
inline constexpr size_t kMinWords = 20;
inline constexpr size_t kMaxWords = 200;
// The seed the benchmarks use.
inline constexpr uint64_t kDefaultSeed = 20261208;

class TTextGenerator {
public:
    explicit TTextGenerator(uint64_t seed);

    // A text of exactly `words` words drawn from the Zipf distribution, in sentences with
    // capitals, punctuation and now and then a line break (CR LF, as the editors store them).
    std::string Text(size_t words);
    // A text of a length drawn uniformly from kMinWords to kMaxWords.
    std::string StoredText();

    // The word of a frequency rank (0 = commonest), lower case.
    const std::string& Word(size_t rank) const { return fwords[rank]; }
    size_t VocabularySize() const { return fwords.size(); }
    // The probability of the word of that rank at one draw.
    double Probability(size_t rank) const;
    // Words in all texts made so far.
    size_t WordsMade() const { return fwordsMade; }

private:
    size_t DrawRank();

    std::mt19937_64 frng;
    std::vector<std::string> fwords;  // by rank
    std::vector<double> fcumulative;  // cumulative Zipf weights by rank
    size_t fwordsMade = 0;
};

struct TGenerated {
    size_t entries = 0;
    size_t words = 0;  // words in all stored texts
    double seconds = 0;
};

// Writes `entries` entries made by TTextGenerator(seed) into the knowledge base file `file`,
// which must not exist yet, through kb::SaveEntry. The file is built under a temporary name
// beside it and renamed at the end, so a run that stops part-way leaves no file behind.
TGenerated Generate(const std::string& file, size_t entries, uint64_t seed);

// The knowledge base file of `entries` entries of `seed` in folder dir, generated there first
// when it is missing. The name carries the generator's version, so a changed generator never
// reuses an old file.
std::string CachedKnowledgeBase(const std::string& dir, size_t entries, uint64_t seed);

}  // namespace kbgen
