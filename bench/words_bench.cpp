// Best match's word reader over every text of a knowledge base, as at start-up, beside EncodeCV
// (the term vectors' reader) over the same texts: 2,000 entries' texts of 20 to 200 words,
// help-desk English, then the same in a mix of German, French, Russian, Greek, Polish and Chinese,
// each with rare words among the common ones.
// Each case reports the time per word; after the run, ReadWords' time is printed as a ratio to
// EncodeCV's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "textsearch/cvvector.h"
#include "textsearch/words/words.h"

namespace {

constexpr const char* kEnglish[] = {
    "the",        "printer",  "does",      "not",       "print",       "after",
    "installing", "update",   "and",       "screen",    "stays",       "blank",
    "when",       "I",        "open",      "a",         "document",    "from",
    "network",    "drive",    "error",     "message",   "says",        "connection",
    "refused",    "by",       "server",    "restarted", "computer",    "twice",
    "still",      "printing", "nothing",   "paper",     "jams",        "in",
    "tray",       "users",    "cannot",    "log",       "on",          "to",
    "their",      "accounts", "password",  "expired",   "reset",       "it",
    "is",         "was",      "with",      "settings",  "changed",     "configuration",
    "files",      "missing",  "backup",    "failed",    "nightly",     "job",
    "disk",       "full",     "deleted",   "old",       "logs",        "working",
    "again",      "mail",     "client",    "crashes",   "attachments", "larger",
    "than",       "limit",    "of",        "for",       "this",        "that",
    "an",         "replaced", "cartridge", "toner",     "low",         "warning",
    "keeps",      "showing",  "driver",    "version",   "installed",   "latest",
    "firmware",   "solved",   "problem",   "keyboard",  "layout",      "wrong"};

constexpr const char* kMixed[] = {"der",       "Drucker",       "druckt",       "nicht",
                                  "mehr",      "nach",          "dem",          "Update",
                                  "Zähler",    "zeigt",         "falsche",      "Werte",
                                  "und",       "Fehlermeldung", "l'imprimante", "n'imprime",
                                  "plus",      "depuis",        "la",           "mise",
                                  "à",         "jour",          "réseau",       "écran",
                                  "reste",     "noir",          "принтер",      "не",
                                  "печатает",  "после",         "обновления",   "ошибка",
                                  "сети",      "сервер",        "перезагружен", "ο",
                                  "εκτυπωτής", "δεν",           "τυπώνει",      "μετά",
                                  "την",       "ενημέρωση",     "drukarka",     "nie",
                                  "drukuje",   "się",           "po",           "aktualizacji",
                                  "Zażółć",    "gęślą",         "jaźń",         "打印机",
                                  "更新后",    "无法打印",      "网络错误",     "服务器",
                                  "已重启"};

// Rare words: 20,000 made of letters of the alphabets given, 4 to 9 letters each, so that the
// stemmers see many words only once or twice, as in a real knowledge base.
std::vector<std::string> RareWords(const std::vector<const char*>& alphabets, uint32_t seed) {
    std::vector<std::vector<std::string>> letters;
    for (const char* alphabet : alphabets) {
        std::vector<std::string>& l = letters.emplace_back();
        for (const char* p = alphabet; *p;) {
            const char* q = p + 1;
            while ((*q & 0xC0) == 0x80)
                ++q;
            l.emplace_back(p, q);
            p = q;
        }
    }
    std::mt19937 rng(seed);
    std::vector<std::string> words(20000);
    for (std::string& w : words) {
        const std::vector<std::string>& alphabet = letters[rng() % letters.size()];
        for (size_t n = 4 + rng() % 6; n > 0; --n)
            w += alphabet[rng() % alphabet.size()];
    }
    return words;
}

// Texts of 20 to 200 words: seven in ten from the common vocabulary, the others rare.
template <size_t N>
std::vector<std::string> Texts(const char* const (&vocabulary)[N],
                               const std::vector<const char*>& alphabets, uint32_t seed) {
    const std::vector<std::string> rare = RareWords(alphabets, seed);
    std::mt19937 rng(seed);
    const char* separators[] = {" ", " ", " ", " ", ", ", ". ", "\n", " - ", "; "};
    std::vector<std::string> texts(4000);
    for (std::string& text : texts) {
        const size_t words = 20 + rng() % 181;
        for (size_t w = 0; w < words; ++w) {
            if (rng() % 10 < 7) {
                text += vocabulary[rng() % N];
            } else {
                text += rare[rng() % rare.size()];
            }
            text += separators[rng() % 9];
        }
    }
    return texts;
}

const std::vector<std::string>& EnglishTexts() {
    static const std::vector<std::string> texts = Texts(kEnglish, {"abcdefghiklmnoprstuy"}, 1);
    return texts;
}

const std::vector<std::string>& MixedTexts() {
    static const std::vector<std::string> texts = Texts(
        kMixed,
        {"abcdefghiklmnoprstuwzäöüß", "abcdefgijlmnoprstuvéèêàç", "абвгдежзиклмнопрстуфхцчшыэюя",
         "αβγδεζηθικλμνξοπρστυφχψωάέήίόύώ", "aąbcćdeęfghijklłmnńoóprsśtuwyzźż",
         "的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着"},
        2);
    return texts;
}

void Report(benchmark::State& state, size_t words) {
    state.counters["words"] = static_cast<double>(words);
    state.counters["ns_per_word"] = benchmark::Counter(
        static_cast<double>(words) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_English_ReadWords(benchmark::State& state) {
    size_t words = 0;
    for (auto _ : state) {
        words = 0;
        for (const std::string& text : EnglishTexts())
            words += ReadWords(text).words.size();
    }
    Report(state, words);
}

void BM_English_EncodeCV(benchmark::State& state) {
    size_t words = 0;
    for (auto _ : state) {
        for (const std::string& text : EnglishTexts())
            benchmark::DoNotOptimize(EncodeCV(text));
    }
    for (const std::string& text : EnglishTexts())
        words += ReadWords(text).words.size();
    Report(state, words);
}

void BM_Mixed_ReadWords(benchmark::State& state) {
    size_t words = 0;
    for (auto _ : state) {
        words = 0;
        for (const std::string& text : MixedTexts())
            words += ReadWords(text).words.size();
    }
    Report(state, words);
}

void BM_Mixed_EncodeCV(benchmark::State& state) {
    size_t words = 0;
    for (auto _ : state) {
        for (const std::string& text : MixedTexts())
            benchmark::DoNotOptimize(EncodeCV(text));
    }
    for (const std::string& text : MixedTexts())
        words += ReadWords(text).words.size();
    Report(state, words);
}

BENCHMARK(BM_English_ReadWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_English_EncodeCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mixed_ReadWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mixed_EncodeCV)->Unit(benchmark::kMillisecond);

// Keeps each case's time per word to print ReadWords against EncodeCV once all have run.
class TWordsReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("ns_per_word");
            if (run.run_type == Run::RT_Iteration && it != run.counters.end())
                fnsPerWord[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        for (const char* texts : {"English", "Mixed"}) {
            const std::string name = std::string("BM_") + texts;
            const auto words = fnsPerWord.find(name + "_ReadWords");
            const auto cv = fnsPerWord.find(name + "_EncodeCV");
            if (words == fnsPerWord.end() || cv == fnsPerWord.end() || cv->second <= 0) continue;
            std::printf("%s texts: ReadWords %.1f ns a word, EncodeCV %.1f ns, ratio %.2f\n", texts,
                        words->second, cv->second, words->second / cv->second);
        }
    }

private:
    std::map<std::string, double> fnsPerWord;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TWordsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
