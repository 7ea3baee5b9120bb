// Best match beside Classic on the same generated knowledge base: kbgen's texts (100,000 entries
// of two texts of 20 to 200 words; --bestmatch_entries=N for another size), searched for a 10-word
// problem, the single commonest word and a pasted text of 2,000 words, each typed with the caret
// at its end. Classic is the program's search index (TSearchIndex, the vector index under it)
// over the texts' stored vectors; Best match is TBestMatchIndex over the same texts. Building is
// measured from what each keeps in the knowledge base: Classic from the stored vector texts,
// Best match from the texts themselves (reading their words included) and from words already
// read. Ratios and memory are printed after the run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/kbgen.h"
#include "core/searchindex.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/cvvector.h"
#include "textsearch/words/words.h"

namespace {

size_t gEntries = 100000;

struct TCorpus {
    std::vector<std::string> problems, solutions, ids, vectors;
    std::vector<TStoredText> stored;
    std::vector<TEntryText> texts;
    std::string queries[3];

    TCorpus() {
        kbgen::TTextGenerator generator(kbgen::kDefaultSeed);
        for (size_t e = 0; e < gEntries; ++e) {
            problems.push_back(generator.StoredText());
            solutions.push_back(generator.StoredText());
            ids.push_back(std::to_string(e));
        }
        for (size_t e = 0; e < gEntries; ++e) {
            vectors.push_back(EncodeCV(problems[e])->Text());
            vectors.push_back(EncodeCV(solutions[e])->Text());
        }
        for (size_t e = 0; e < gEntries; ++e) {
            for (int t = 0; t < 2; ++t) {
                const std::string& text = t == 0 ? problems[e] : solutions[e];
                stored.push_back(TStoredText{static_cast<int64_t>(2 * e + t + 1), ids[e],
                                             t == 0 ? "P" : "S", vectors[2 * e + t],
                                             std::string_view(text).substr(0, kHitTextBytes), std::nullopt});
            }
            texts.push_back(TEntryText{problems[e], solutions[e]});
        }
        queries[0] = generator.Text(10);
        queries[1] = generator.Word(0);
        queries[2] = generator.Text(2000);
    }
};

TCorpus& Corpus() {
    static TCorpus corpus;
    return corpus;
}

const char* const kQueryNames[] = {"10-word problem", "single common word", "2,000-word paste"};

TSearchIndex& Classic() {
    static TSearchIndex* index = [] {
        auto* i = new TSearchIndex;
        i->Add(Corpus().stored);
        return i;
    }();
    return *index;
}

TBestMatchIndex& Best() {
    static TBestMatchIndex* index = [] {
        auto* i = new TBestMatchIndex(ReadWords);
        i->AddBatch(Corpus().texts);
        return i;
    }();
    return *index;
}

std::map<std::string, double> gMs;  // case -> milliseconds per iteration

void Record(benchmark::State& state, const std::string& name,
            std::chrono::steady_clock::duration total) {
    const double ms = std::chrono::duration<double, std::milli>(total).count() /
                      static_cast<double>(state.iterations());
    gMs[name] = ms;
}

void BM_ClassicSearch(benchmark::State& state) {
    const int q = static_cast<int>(state.range(0));
    TSearchIndex& index = Classic();
    const std::string& text = Corpus().queries[q];
    size_t hits = 0;
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::unique_ptr<TSearchPass> pass = index.Search(*EncodeCV(text));
        total += std::chrono::steady_clock::now() - start;
        hits = pass->hits.size();
    }
    state.counters["hits"] = static_cast<double>(hits);
    state.SetLabel(kQueryNames[q]);
    Record(state, std::string("classic ") + kQueryNames[q], total);
}

void BM_BestSearch(benchmark::State& state) {
    const int q = static_cast<int>(state.range(0));
    TBestMatchIndex& index = Best();
    const std::string& text = Corpus().queries[q];
    const std::string languages[] = {"english"};
    size_t hits = 0;
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<TQueryWord> words = ReadQueryWords(text, languages, true);
        hits = index.Search(words).size();
        total += std::chrono::steady_clock::now() - start;
    }
    state.counters["hits"] = static_cast<double>(hits);
    state.SetLabel(kQueryNames[q]);
    Record(state, std::string("best ") + kQueryNames[q], total);
}

void BM_ClassicBuild(benchmark::State& state) {
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TSearchIndex index;
        index.Add(Corpus().stored);
        total += std::chrono::steady_clock::now() - start;
        gMs["classic memory"] = static_cast<double>(index.MemoryUsage()) / 1e6;
    }
    Record(state, "classic build", total);
}

void BM_BestBuildFromTexts(benchmark::State& state) {
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TBestMatchIndex index(ReadWords);
        index.AddBatch(Corpus().texts);
        total += std::chrono::steady_clock::now() - start;
        gMs["best memory"] = static_cast<double>(index.MemoryUsage()) / 1e6;
    }
    Record(state, "best build from texts", total);
}

void BM_BestBuildFromWords(benchmark::State& state) {
    // The words read beforehand, a chunk at a time, as a store that keeps them would hand them.
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        TBestMatchIndex index(ReadWords);
        constexpr size_t kChunk = 4096;
        for (size_t begin = 0; begin < gEntries; begin += kChunk) {
            std::vector<TEntryWords> words;
            for (size_t e = begin; e < std::min(gEntries, begin + kChunk); ++e)
                words.push_back(ReadEntryWords(ReadWords, Corpus().texts[e]));
            const auto start = std::chrono::steady_clock::now();
            for (const TEntryWords& w : words)
                index.AddWords(w);
            total += std::chrono::steady_clock::now() - start;
        }
    }
    Record(state, "best build from words", total);
}

BENCHMARK(BM_ClassicSearch)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BestSearch)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClassicBuild)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BestBuildFromTexts)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BestBuildFromWords)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--bestmatch_entries=", 20))
            gEntries = std::stoul(argv[i] + 20);
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%zu entries | Classic | Best match | Classic / Best match\n", gEntries);
    for (const char* q : kQueryNames) {
        const std::string c = std::string("classic ") + q, b = std::string("best ") + q;
        if (gMs.count(c) && gMs.count(b))
            std::printf("search, %s | %.2f ms | %.2f ms | %.1f\n", q, gMs[c], gMs[b],
                        gMs[c] / gMs[b]);
    }
    for (const char* b : {"best build from texts", "best build from words"})
        if (gMs.count("classic build") && gMs.count(b))
            std::printf("build (%s) | %.0f ms | %.0f ms | %.2f\n", b + 11, gMs["classic build"],
                        gMs[b], gMs["classic build"] / gMs[b]);
    if (gMs.count("classic memory") && gMs.count("best memory"))
        std::printf("index memory | %.1f MB | %.1f MB | %.2f\n", gMs["classic memory"],
                    gMs["best memory"], gMs["classic memory"] / gMs["best memory"]);
    benchmark::Shutdown();
    return 0;
}
