// The history windows' lines and the filter of the deleted entries: every word typed is found in
// an entry's texts whatever their case, accents and stored form, and nothing else is.
#include "core/historylist.h"

#include <gtest/gtest.h>

#include <random>

#include "core/storedtext.h"
#include "port/localformat.h"

namespace {

// Letters with the ways they may be written; the first of each is the form folded without
// accents, so two texts match exactly where their letters' places in this table do.
const std::vector<std::vector<std::string>> kLetters = {
    {"a", "A", "\u00E1", "\u00C1", "\u00E0"},
    {"e", "E", "\u00E9", "\u00C9", "\u00EA"},
    {"o", "O", "\u00F6", "\u00D6", "\u00F8", "\u00D8"},
    {"u", "U", "\u00FC", "\u00DC"},
    {"c", "C", "\u00E7", "\u00C7"},
    {"n", "N", "\u00F1", "\u00D1"},
    {"\u0436", "\u0416"},
    {"\u03C3", "\u03A3", "\u03C2"},
    {"t", "T"}};
const std::vector<std::string> kSeparators = {" ", ", ", "\r\n", "-", "'", ". ", "\t"};

using TWordLetters = std::vector<int>;  // places in kLetters

std::string Written(const TWordLetters& word, std::mt19937& random) {
    std::string text;
    for (int letter : word) {
        const auto& forms = kLetters[static_cast<size_t>(letter)];
        text += forms[random() % forms.size()];
    }
    return text;
}

TWordLetters RandomWord(std::mt19937& random, int maxLength) {
    TWordLetters word(1 + random() % static_cast<unsigned>(maxLength));
    for (int& letter : word)
        letter = static_cast<int>(random() % kLetters.size());
    return word;
}

std::string WrittenText(const std::vector<TWordLetters>& words, std::mt19937& random) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0 || random() % 3 == 0) text += kSeparators[random() % kSeparators.size()];
        text += Written(words[i], random);
    }
    return text;
}

bool Within(const TWordLetters& typed, const std::vector<TWordLetters>& words) {
    for (const TWordLetters& word : words) {
        if (std::search(word.begin(), word.end(), typed.begin(), typed.end()) != word.end())
            return true;
    }
    return false;
}

TEST(DeletedFilter, ListsTheEntriesHoldingEveryWordTypedWhateverTheCaseAccentsAndForm) {
    std::mt19937 random(20261209);
    int matchedSome = 0, matchedNone = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<TEntryVersion> versions;
        std::vector<std::vector<TWordLetters>> words;  // each entry's, problem and solution
        for (int e = 0, n = 1 + static_cast<int>(random() % 12); e < n; ++e) {
            std::vector<TWordLetters> problem(random() % 5), solution(random() % 5);
            for (auto& w : problem)
                w = RandomWord(random, 7);
            for (auto& w : solution)
                w = RandomWord(random, 7);
            TEntryVersion v;
            v.entry.ID = std::to_string(e);
            // Stored as the program stores them: Windows-1252 when it can, else marked UTF-8.
            v.entry.problem = StoredFromUtf8(WrittenText(problem, random));
            v.entry.solution = StoredFromUtf8(WrittenText(solution, random));
            versions.push_back(v);
            problem.insert(problem.end(), solution.begin(), solution.end());
            words.push_back(problem);
        }
        // Words typed: parts of stored words, or letters at random.
        std::vector<TWordLetters> typed(random() % 4);
        for (TWordLetters& t : typed) {
            const auto& some = words[random() % words.size()];
            if (some.empty() || random() % 3 == 0) {
                t = RandomWord(random, 3);
                continue;
            }
            const TWordLetters& w = some[random() % some.size()];
            const size_t from = random() % w.size();
            const size_t length = 1 + random() % (w.size() - from);
            t.assign(w.begin() + static_cast<long>(from),
                     w.begin() + static_cast<long>(from + length));
        }
        const std::string query = WrittenText(typed, random);

        std::vector<size_t> expected;
        for (size_t e = 0; e < versions.size(); ++e) {
            bool all = true;
            for (const TWordLetters& t : typed)
                all = all && Within(t, words[e]);
            if (all) expected.push_back(e);
        }
        ASSERT_EQ(MatchingVersions(versions, query), expected) << "typed: " << query;
        for (size_t e = 0; e < versions.size(); ++e) {
            const bool listed = std::find(expected.begin(), expected.end(), e) != expected.end();
            ASSERT_EQ(HoldsTypedWords(versions[e].entry, query), listed);
        }
        (expected.empty() ? matchedNone : matchedSome) += 1;
    }
    EXPECT_GT(matchedSome, 50);  // the rounds tried both outcomes often
    EXPECT_GT(matchedNone, 20);
}

TEST(HistoryLines, FirstLineAndWhoAndWhen) {
    TStoredEntry entry;
    entry.problem = " \r\n\t printer jams \r\nsecond line";
    EXPECT_EQ(EntryFirstLine(entry), "printer jams");
    entry.problem = "  \r\n";
    entry.solution = StoredFromUtf8("\u0416\u0416\u0416\u0416 line");
    EXPECT_EQ(EntryFirstLine(entry), "\u0416\u0416\u0416\u0416 line");  // the solution's
    EXPECT_EQ(EntryFirstLine(entry, 3), "\u0416\u0416\u0416...");       // cut by characters
    entry.problem = "\xE9t\xE9";                                        // Windows-1252
    EXPECT_EQ(EntryFirstLine(entry), "\u00E9t\u00E9");

    TEntryTexts texts;
    EXPECT_EQ(SavedAndChangedLine(texts), "");  // an entry of an earlier version records nothing
    texts.created = "09/12/2026 10:31:00";
    EXPECT_EQ(SavedAndChangedLine(texts), "Saved 09/12/2026 10:31:00");
    texts.savedBy = "anna";
    texts.changedAt = 1800000000;
    texts.changedBy = "bob";
    EXPECT_EQ(SavedAndChangedLine(texts), "Saved 09/12/2026 10:31:00 by anna \u00B7 changed " +
                                              FormatDateTime(1800000000) + " by bob");
    texts.created.clear();
    texts.savedBy.clear();
    EXPECT_EQ(SavedAndChangedLine(texts), "Changed " + FormatDateTime(1800000000) + " by bob");
}

}  // namespace
