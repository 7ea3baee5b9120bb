// The word reader against ICU's folding and Snowball's stemmers called directly, against the term
// vectors for English, and over random texts of many scripts and their variants (without
// accents, in capitals, decomposed), which must all give the same terms.
#include <gtest/gtest.h>
#include <libstemmer.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "textsearch/cvvector.h"
#include "textsearch/uPorterStem.h"
#include "textsearch/words/words.h"

namespace {

std::string Nfkccf(std::string_view s) {
    UErrorCode e = U_ZERO_ERROR;
    std::string out;
    icu::Normalizer2::getNFKCCasefoldInstance(e)
        ->normalize(icu::UnicodeString::fromUTF8(s), e)
        .toUTF8String(out);
    return out;
}

std::string Upper(std::string_view s) {
    std::string out;
    icu::UnicodeString::fromUTF8(s).toUpper().toUTF8String(out);
    return out;
}

std::string Nfd(std::string_view s) {
    UErrorCode e = U_ZERO_ERROR;
    std::string out;
    icu::Normalizer2::getNFDInstance(e)
        ->normalize(icu::UnicodeString::fromUTF8(s), e)
        .toUTF8String(out);
    return out;
}

std::string SnowballStem(const char* algorithm, const std::string& word) {
    std::unique_ptr<sb_stemmer, void (*)(sb_stemmer*)> s(sb_stemmer_new(algorithm, "UTF_8"),
                                                         sb_stemmer_delete);
    const sb_symbol* stem = sb_stemmer_stem(
        s.get(), reinterpret_cast<const sb_symbol*>(word.data()), static_cast<int>(word.size()));
    return {reinterpret_cast<const char*>(stem), static_cast<size_t>(sb_stemmer_length(s.get()))};
}

UScriptCode ScriptAt(std::string_view text, uint32_t at) {
    UChar32 c;
    U8_GET(reinterpret_cast<const uint8_t*>(text.data()), 0, static_cast<int32_t>(at),
           static_cast<int32_t>(text.size()), c);
    UErrorCode e = U_ZERO_ERROR;
    return uscript_getScript(c, &e);
}

std::vector<std::string> Terms(std::string_view text) {
    std::vector<std::string> terms;
    for (const TWord& w : ReadWords(text).words)
        terms.push_back(w.term);
    return terms;
}

std::string At(std::string_view text, TWordPlace p) {
    return std::string(text.substr(p.begin, p.end - p.begin));
}

// A word as written and as typed without its accents.
struct TAtom {
    const char* word;
    const char* plain;
};

constexpr TAtom kAtoms[] = {
    {"Zähler", "Zahler"},
    {"café", "cafe"},
    {"Zażółć", "Zazolc"},
    {"réseau", "reseau"},
    {"Straße", "Strasse"},
    {"Øresund", "Oresund"},
    {"Łódź", "Lodz"},
    {"æther", "aether"},
    {"cœur", "coeur"},
    {"đak", "dak"},
    {"naïve", "naive"},
    {"Ångström", "Angstrom"},
    {"niño", "nino"},
    {"Zäh\u00ADler", "Zahler"},
    {"printers", "printers"},
    {"Win98", "Win98"},
    {"1990s", "1990s"},
    {"don", "don"},
    {"ΟΔΟΣ", "ΟΔΟΣ"},
    {"οδός", "οδος"},
    {"ἄνθρωπος", "ανθρωπος"},
    {"принтеры", "принтеры"},
    {"ёлка", "елка"},
    {"й", "й"},
    {"сервер", "сервер"},
    {"كِتَاب", "كتاب"},
    {"שָׁלוֹם", "שלום"},
    {"नमस्ते", "नमस्ते"},
    {"தமிழ்", "தமிழ்"},
    {"Հայաստան", "Հայաստան"},
    {"ქართული", "ქართული"},
    {"打印机", "打印机"},
    {"東京タワー", "東京タワー"},
    {"한국어", "한국어"},
    {"ภาษาไทย", "ภาษาไทย"},
    {"ｶﾞｷﾞ", "ｶﾞｷﾞ"},
    {"２０２４", "２０２４"},
    {"٣٤", "34"},
    {"col·lecció", "colleccio"},
};
constexpr const char* kSeparators[] = {" ",  " ",      ", ",     ". ", "\n",     " - ",
                                       "'",  "\u2019", "\u2014", "\t", "\u00A0", "\u3000",
                                       "、", "。",     "😀 ",     "!"};

struct TVariants {
    std::string text, plain;
};

TVariants RandomText(std::mt19937& rng) {
    TVariants v;
    const size_t words = 1 + rng() % 30;
    for (size_t i = 0; i < words; ++i) {
        const TAtom& a = kAtoms[rng() % std::size(kAtoms)];
        const bool upper = rng() % 5 == 0;
        v.text += upper ? Upper(a.word) : a.word;
        v.plain += upper ? Upper(a.plain) : a.plain;
        const char* s = kSeparators[rng() % std::size(kSeparators)];
        v.text += s;
        v.plain += s;
    }
    return v;
}

bool IsWordStart(std::string_view text, uint32_t at) {
    UChar32 c;
    U8_GET(reinterpret_cast<const uint8_t*>(text.data()), 0, static_cast<int32_t>(at),
           static_cast<int32_t>(text.size()), c);
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_ND_MASK)) != 0;
}

TEST(ReadWords, RandomTextsOfManyScriptsKeepTheirPlacesAndFoldAlike) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 400; ++round) {
        const TVariants v = RandomText(rng);
        SCOPED_TRACE(v.text);
        const TTextWords read = ReadWords(v.text);
        const auto* bytes = reinterpret_cast<const uint8_t*>(v.text.data());
        std::vector<bool> covered(v.text.size());
        uint32_t lastBegin = 0, lastEnd = 0;
        for (size_t k = 0; k < read.words.size(); ++k) {
            const TWord& w = read.words[k];
            ASSERT_LT(w.place.begin, w.place.end);
            ASSERT_LE(w.place.end, v.text.size());
            EXPECT_FALSE(U8_IS_TRAIL(bytes[w.place.begin]));
            EXPECT_TRUE(w.place.end == v.text.size() || !U8_IS_TRAIL(bytes[w.place.end]));
            EXPECT_TRUE(IsWordStart(v.text, w.place.begin)) << At(v.text, w.place);
            if (k > 0) {
                EXPECT_GT(w.place.begin, lastBegin);
                EXPECT_GT(w.place.end, lastEnd);
            }
            lastBegin = w.place.begin;
            lastEnd = w.place.end;
            for (uint32_t b = w.place.begin; b < w.place.end; ++b)
                covered[b] = true;
            EXPECT_FALSE(w.term.empty());
            EXPECT_NE(w.term, w.exact);
            // Words that nothing stems fold exactly as ICU folds them.
            const UScriptCode script = ScriptAt(v.text, w.place.begin);
            if (script == USCRIPT_HAN || script == USCRIPT_HANGUL || script == USCRIPT_THAI ||
                script == USCRIPT_KATAKANA || script == USCRIPT_GEORGIAN) {
                EXPECT_EQ(w.exact.empty() ? w.term : w.exact, Nfkccf(At(v.text, w.place)));
            }
        }
        // Every letter and digit stands in a word.
        for (int32_t i = 0; i < static_cast<int32_t>(v.text.size());) {
            const int32_t at = i;
            UChar32 c;
            U8_NEXT(bytes, i, static_cast<int32_t>(v.text.size()), c);
            if (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_ND_MASK)) {
                EXPECT_TRUE(covered[static_cast<size_t>(at)]) << "at byte " << at;
            }
        }
        // Accents left out, capitals and decomposed accents give the same terms.
        const std::vector<std::string> terms = Terms(v.text);
        EXPECT_EQ(Terms(v.plain), terms);
        EXPECT_EQ(Terms(Upper(v.text)), terms);
        const TTextWords decomposed = ReadWords(Nfd(v.text));
        ASSERT_EQ(decomposed.words.size(), read.words.size());
        for (size_t k = 0; k < read.words.size(); ++k) {
            EXPECT_EQ(decomposed.words[k].term, read.words[k].term);
            EXPECT_EQ(decomposed.words[k].exact, read.words[k].exact);
        }
        EXPECT_EQ(ReadWords(v.plain).language, read.language);
    }
}

// Texts in one language each: the language they are told to be, and words that must give
// Snowball's own stems of their folded forms.
struct TLanguageCase {
    const char* algorithm;  // "" for a language read unstemmed
    std::vector<TAtom> words;
    const char* common;  // common words that tell the language
};

const std::vector<TLanguageCase>& LanguageCases() {
    static const std::vector<TLanguageCase> cases = {
        {"german",
         {{"Zähler", "Zahler"},
          {"Drucker", "Drucker"},
          {"Fehlermeldungen", "Fehlermeldungen"},
          {"Häuser", "Hauser"},
          {"Straße", "Strasse"},
          {"gedruckt", "gedruckt"}},
         "der die und nicht ist"},
        {"french",
         {{"réseaux", "reseaux"},
          {"imprimantes", "imprimantes"},
          {"été", "ete"},
          {"connexion", "connexion"},
          {"problèmes", "problemes"}},
         "le les est une dans pour"},
        {"spanish",
         {{"impresoras", "impresoras"},
          {"conexión", "conexion"},
          {"niños", "ninos"},
          {"funcionando", "funcionando"}},
         "el los que por con para"},
        {"russian",
         {{"принтеры", "принтеры"},
          {"принтеров", "принтеров"},
          {"ошибки", "ошибки"},
          {"ёлками", "елками"},
          {"работают", "работают"}},
         "и не на что это"},
        {"greek",
         {{"εκτυπωτές", "εκτυπωτες"},
          {"ΟΔΟΣ", "ΟΔΟΣ"},
          {"δρόμους", "δρομους"},
          {"ενημέρωση", "ενημερωση"}},
         "και το να"},
        {"",
         {{"Zażółć", "Zazolc"}, {"drukarki", "drukarki"}, {"gęślą", "gesla"}},
         "i w nie jest się"},
        {"", {{"принтери", "принтери"}, {"їжак", "іжак"}}, "і що та це"},
    };
    return cases;
}

TEST(ReadWords, EachLanguageIsToldAndStemmedAsSnowballStemsIt) {
    std::mt19937 rng(7);
    for (const TLanguageCase& c : LanguageCases()) {
        for (int round = 0; round < 20; ++round) {
            // Common words first, then the words in a random order and case.
            std::string text = c.common, plain = c.common;
            std::vector<const TAtom*> order;
            for (int i = 0; i < 8; ++i) {
                const TAtom& a = c.words[rng() % c.words.size()];
                const bool upper = rng() % 3 == 0;
                text += " " + (upper ? Upper(a.word) : std::string(a.word));
                plain += " " + (upper ? Upper(a.plain) : std::string(a.plain));
                order.push_back(&a);
            }
            SCOPED_TRACE(text);
            const TTextWords read = ReadWords(text);
            EXPECT_EQ(read.language, c.algorithm);
            const TTextWords readPlain = ReadWords(plain);
            ASSERT_EQ(read.words.size(), readPlain.words.size());
            const size_t first = read.words.size() - order.size();
            for (size_t k = 0; k < order.size(); ++k) {
                const TWord& w = read.words[first + k];
                const std::string folded = Nfkccf(order[k]->word);
                const std::string bare = Nfkccf(order[k]->plain);
                const bool stemmed = *c.algorithm != 0;
                EXPECT_EQ(w.term, stemmed ? SnowballStem(c.algorithm, bare) : bare);
                EXPECT_EQ(w.exact.empty() ? w.term : w.exact,
                          stemmed ? SnowballStem(c.algorithm, folded) : folded);
                EXPECT_EQ(readPlain.words[first + k].term, w.term);
            }
            // The same text as a query, in its language: the text's terms come first.
            const std::vector<std::string> languages = {read.language};
            const std::vector<TQueryWord> query = ReadQueryWords(text, languages, false);
            ASSERT_EQ(query.size(), read.words.size());
            for (size_t k = 0; k < query.size(); ++k) {
                EXPECT_EQ(query[k].terms.at(0), read.words[k].term);
                EXPECT_EQ(query[k].exact, read.words[k].exact);
                EXPECT_EQ(query[k].place.begin, read.words[k].place.begin);
            }
        }
    }
}

TEST(ReadWords, EnglishTextGivesTheTermsOfItsTermVector) {
    const std::vector<std::string> vocabulary = {
        "the",  "Printers", "print",       "connected",   "CONNECTING",  "generalizations",
        "is",   "of",       "sensibly",    "archaeology", "Win98",       "1990s",
        "jams", "ponies",   "relational",  "feed",        "skiing",      "agreed",
        "a",    "it",       "motoring",    "don't",       "e-mail",      "v1.2.3",
        "x_y",  "and",      "oscillators", "happy",       "controlling", "bled"};
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        std::string text = "the";
        for (int i = 0; i < 40; ++i) {
            text += rng() % 4 == 0 ? ", " : " ";
            text += vocabulary[rng() % vocabulary.size()];
            // Random ASCII words too, which PorterStem stems however they look.
            if (rng() % 5 == 0) {
                text += ' ';
                for (size_t n = 1 + rng() % 9; n > 0; --n)
                    text += "abcdeisyz0AEIY"[rng() % 14];
            }
        }
        SCOPED_TRACE(text);
        const TTextWords read = ReadWords(text);
        EXPECT_EQ(read.language, "english");
        // The distinct terms with their counts, in order of first occurrence, as EncodeCV
        // writes them (it keeps the empty stem, which the reader leaves out).
        std::vector<std::string> lines;
        std::map<std::string, size_t> line;
        for (const TWord& w : read.words) {
            EXPECT_EQ(w.term, PorterStem(Nfkccf(At(text, w.place))));
            if (line.emplace(w.term, lines.size()).second) lines.push_back(w.term + "=0");
            std::string& l = lines[line[w.term]];
            l = w.term + "=" + std::to_string(std::stoi(l.substr(w.term.size() + 1)) + 1);
        }
        std::vector<std::string> classic;
        const std::unique_ptr<TcvVector> vector = EncodeCV(text);
        for (const std::string& l : vector->Lines()) {
            if (l[0] != '=') classic.push_back(l);
        }
        EXPECT_EQ(lines, classic);
    }
}

TEST(ReadWords, ScriptsWithoutSpacesGiveOverlappingPairs) {
    const std::string text = "打印机坏了 ok 机";
    const TTextWords read = ReadWords(text);
    ASSERT_EQ(read.words.size(), 6u);
    const char* pairs[] = {"打印", "印机", "机坏", "坏了"};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(read.words[k].term, pairs[k]);
        EXPECT_EQ(At(text, read.words[k].place), pairs[k]);
    }
    EXPECT_EQ(read.words[4].term, "ok");
    EXPECT_EQ(read.words[5].term, "机");
    EXPECT_EQ(read.language, "");
    // Half-width kana with their sound marks pair as the full-width characters they stand for.
    EXPECT_EQ(Terms("ｶﾞｷﾞｸﾞ"), (std::vector<std::string>{"ガギ", "ギグ"}));
    // A query of two or more characters gives its pairs; a lone one being typed is a prefix.
    const std::vector<TQueryWord> query = ReadQueryWords("东京 机", {}, true);
    ASSERT_EQ(query.size(), 2u);
    EXPECT_EQ(query[0].terms, std::vector<std::string>{"东京"});
    EXPECT_EQ(query[0].prefix, "");
    EXPECT_EQ(query[1].prefix, "机");
}

TEST(ReadWords, ExamplesOfTheIssue) {
    // Inflections and accents in German, Russian and Greek meet in one term.
    const TTextWords german = ReadWords("Der Zähler und die Zählers ZÄHLER zahler nicht");
    EXPECT_EQ(german.language, "german");
    for (size_t k : {1u, 4u, 5u, 6u})
        EXPECT_EQ(german.words[k].term, german.words[1].term);
    const TTextWords russian =
        ReadWords("Принтер не печатает, все принтеры и принтеров принтерами сломаны");
    for (size_t k : {4u, 6u, 7u})
        EXPECT_EQ(russian.words[k].term, russian.words[0].term);
    EXPECT_EQ(Terms("ΟΔΟΣ"), Terms("οδός"));
    EXPECT_EQ(Terms("ΟΔΟΣ"), Terms("οδοσ"));
    EXPECT_EQ(Terms("ß"), Terms("SS"));
    EXPECT_EQ(Terms("Zażółć")[0], "zazolc");
    EXPECT_EQ(ReadWords("café").words[0].exact, "café");
    EXPECT_EQ(ReadWords("cafe").words[0].exact, "");
    EXPECT_EQ(Terms("ł ø đ æ œ"), (std::vector<std::string>{"l", "o", "d", "ae", "oe"}));
    // What separates and what joins.
    EXPECT_EQ(Terms("l'ordinateur"), (std::vector<std::string>{"l", "ordinateur"}));
    EXPECT_EQ(Terms("Fehler\u00ADmeldung").size(), 1u);
    EXPECT_EQ(Terms("\u00ADa\u200D").size(), 1u);
    EXPECT_TRUE(ReadWords("").words.empty());
    EXPECT_TRUE(ReadWords("ing").words.empty());
    // An ill-formed sequence separates words and never ends up in a term.
    EXPECT_EQ(Terms("ab\xC3\x28"
                    "cd\xFF"),
              (std::vector<std::string>{"ab", "cd"}));
}

TEST(ReadQueryWords, ShortQueriesTryEveryLanguageOfTheKnowledgeBase) {
    const std::vector<std::string> languages = {"english", "german", "french", "russian", ""};
    // "Zählers Kopie" tells no language: the German stems of a German text are among its terms.
    const TTextWords german = ReadWords("Der Zähler ist nicht da und die Kopie auch nicht");
    const std::vector<TQueryWord> query = ReadQueryWords("Zählers Kopie", languages, false);
    ASSERT_EQ(query.size(), 2u);
    auto has = [](const TQueryWord& q, const std::string& term) {
        return std::find(q.terms.begin(), q.terms.end(), term) != q.terms.end();
    };
    EXPECT_TRUE(has(query[0], german.words[1].term));
    EXPECT_TRUE(has(query[1], german.words[7].term));
    EXPECT_TRUE(has(query[0], ReadWords("Zählers").words[0].term));  // stemmed as English
    EXPECT_TRUE(has(query[0], "zahlers"));                           // and unstemmed
    EXPECT_EQ(query[0].prefix, "");

    // A Cyrillic word is stemmed in Russian even when no text is mostly Russian.
    const TTextWords russian = ReadWords("Принтер не печатает");
    EXPECT_TRUE(has(ReadQueryWords("принтеры", {}, false).at(0), russian.words[0].term));

    // A query whose common words tell its language is stemmed in it first.
    const std::vector<TQueryWord> told = ReadQueryWords("der Zähler ist kaputt", languages, false);
    EXPECT_EQ(told[1].terms[0], german.words[1].term);
}

TEST(ReadQueryWords, TheWordBeingTypedIsAPrefixWithoutAccents) {
    EXPECT_EQ(ReadQueryWords("the printe", {}, true).back().prefix, "printe");
    EXPECT_EQ(ReadQueryWords("the printe", {}, false).back().prefix, "");
    EXPECT_EQ(ReadQueryWords("the printe ", {}, true).back().prefix, "");
    EXPECT_EQ(ReadQueryWords("the printe", {}, true).front().prefix, "");
    EXPECT_EQ(ReadQueryWords("RÉSE", {}, true).back().prefix, "rese");
    const std::vector<TQueryWord> cafe = ReadQueryWords("café", {}, false);
    EXPECT_EQ(cafe[0].terms[0], "cafe");
    EXPECT_EQ(cafe[0].exact, "café");
    EXPECT_EQ(cafe[0].place.end, 5u);
}

TEST(StemmedLanguageNames, NameEveryStemmedLanguageOnce) {
    const std::vector<std::string> names = StemmedLanguageNames();
    EXPECT_EQ(names.size(), 28u);  // Snowball's algorithms but the original Porter one
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

}  // namespace
