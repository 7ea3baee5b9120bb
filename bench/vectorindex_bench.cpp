// The vector index at the size of a large knowledge base: 200,000 stored vectors of 20 to 200
// words each, drawn from a Zipf vocabulary of 25,000 words. Searching for a single common word
// (in nearly every text), a 10-word query and a pasted 2,000-word query is measured beside the
// literal pass (parse every stored text, score it with Proximity); building the index beside
// only parsing every stored text, and building it from chunks of 8192 texts (as a load that
// streams rows from the database does) beside one batch of them all. Ratios are printed after
// the run, with the index's memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "port/errors.h"
#include "textsearch/cvvector.h"
#include "textsearch/similarity.h"
#include "textsearch/vectorindex.h"

namespace {

constexpr size_t kDocs = 200000;
constexpr size_t kVocabulary = 25000;
constexpr float kThreshold = 0.25f;
constexpr size_t kChunk = 8192;

class TCorpus {
public:
    TCorpus() : frng(17) {
        std::map<std::string, bool> seen;
        while (fwords.size() < kVocabulary) {
            std::string w;
            const size_t length = 3 + frng() % 8;
            for (size_t i = 0; i < length; ++i)
                w += static_cast<char>('a' + frng() % 26);
            if (seen.emplace(w, true).second) fwords.push_back(w);
        }
        double sum = 0;
        for (size_t r = 1; r <= kVocabulary; ++r) {
            sum += 1.0 / static_cast<double>(r);
            fcumulative.push_back(sum);
        }
        fstamp.assign(kVocabulary, 0);
        texts.reserve(kDocs);
        for (size_t d = 0; d < kDocs; ++d)
            texts.push_back(Vector(20 + frng() % 181).Text());
        views.assign(texts.begin(), texts.end());
        size_t bytes = 0;
        for (const std::string& t : texts)
            bytes += t.size();
        std::printf("corpus: %zu stored vectors, %.1f MB of vector text\n", texts.size(),
                    static_cast<double>(bytes) / 1e6);
    }

    // The term vector of `tokens` Zipf-drawn words, as EncodeCV would make it.
    TcvVector Vector(size_t tokens) {
        ++fround;
        std::vector<size_t> order;
        std::vector<int> counts(kVocabulary, 0);
        for (size_t i = 0; i < tokens; ++i) {
            const size_t w = Draw();
            if (fstamp[w] != fround) {
                fstamp[w] = fround;
                order.push_back(w);
            }
            ++counts[w];
        }
        TcvVector v;
        for (const size_t w : order)
            v.Add(fwords[w] + "=" + std::to_string(counts[w]));
        v.magnitude = Magnitude(v);
        return v;
    }

    TcvVector CommonWord() const {
        TcvVector v;
        v.Add(fwords[0] + "=1");
        v.magnitude = Magnitude(v);
        return v;
    }

    std::vector<std::string> texts;
    std::vector<std::string_view> views;

private:
    size_t Draw() {
        const double u = std::uniform_real_distribution<double>(0, fcumulative.back())(frng);
        const auto it = std::lower_bound(fcumulative.begin(), fcumulative.end(), u);
        return std::min<size_t>(static_cast<size_t>(it - fcumulative.begin()), kVocabulary - 1);
    }

    std::mt19937_64 frng;
    std::vector<std::string> fwords;
    std::vector<double> fcumulative;
    std::vector<uint32_t> fstamp;
    uint32_t fround = 0;
};

TCorpus& Corpus() {
    static TCorpus corpus;
    return corpus;
}

const TVectorIndex& Index() {
    static const std::unique_ptr<TVectorIndex> index = [] {
        auto built = std::make_unique<TVectorIndex>();
        built->AddBatch(Corpus().views);
        std::printf("index: %.1f MB\n", static_cast<double>(built->MemoryUsage()) / 1e6);
        return built;
    }();
    return *index;
}

// The same texts added in chunks of kChunk, one AddBatch each.
void AddInChunks(TVectorIndex& index, std::span<const std::string_view> views) {
    for (size_t at = 0; at < views.size(); at += kChunk)
        index.AddBatch(views.subspan(at, std::min(kChunk, views.size() - at)));
}

const TVectorIndex& ChunkedIndex() {
    static const std::unique_ptr<TVectorIndex> index = [] {
        auto built = std::make_unique<TVectorIndex>();
        AddInChunks(*built, Corpus().views);
        return built;
    }();
    return *index;
}

const TcvVector& Query(int which) {
    static const std::vector<TcvVector> queries = [] {
        std::vector<TcvVector> q;
        q.push_back(Corpus().CommonWord());
        q.push_back(Corpus().Vector(10));
        q.push_back(Corpus().Vector(2000));
        return q;
    }();
    return queries[static_cast<size_t>(which)];
}

const char* QueryName(int which) {
    static const char* names[] = {"common word", "10 words", "2000 words"};
    return names[which];
}

void BM_Search_Index(benchmark::State& state) {
    const TVectorIndex& index = Index();
    const TcvVector& query = Query(static_cast<int>(state.range(0)));
    TVectorIndex::TMatches out;
    for (auto _ : state) {
        out.clear();
        index.Search(query, kThreshold, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["hits"] = static_cast<double>(out.size());
    state.counters["lines"] = query.Count();
    state.SetLabel(QueryName(static_cast<int>(state.range(0))));
}

// The same searches over the index built in chunks: its segments should serve them as well.
void BM_Search_ChunkedIndex(benchmark::State& state) {
    const TVectorIndex& index = ChunkedIndex();
    const TcvVector& query = Query(static_cast<int>(state.range(0)));
    TVectorIndex::TMatches out;
    for (auto _ : state) {
        out.clear();
        index.Search(query, kThreshold, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["hits"] = static_cast<double>(out.size());
    state.SetLabel(QueryName(static_cast<int>(state.range(0))));
}

void BM_Search_Literal(benchmark::State& state) {
    const std::vector<std::string>& texts = Corpus().texts;
    const TcvVector& query = Query(static_cast<int>(state.range(0)));
    TVectorIndex::TMatches out;
    for (auto _ : state) {
        out.clear();
        for (size_t i = 0; i < texts.size(); ++i) {
            TcvVector stored;
            stored.SetText(texts[i]);
            try {
                const float score = Proximity(query, stored);
                if (score > kThreshold) out.push_back({static_cast<uint32_t>(i), score});
            } catch (const EConvertError&) {
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["hits"] = static_cast<double>(out.size());
    state.SetLabel(QueryName(static_cast<int>(state.range(0))));
}

void BM_Build_Index(benchmark::State& state) {
    const std::vector<std::string_view>& views = Corpus().views;
    for (auto _ : state) {
        TVectorIndex index;
        index.AddBatch(views);
        benchmark::DoNotOptimize(index.LiveCount());
    }
}

void BM_Build_Chunked(benchmark::State& state) {
    const std::vector<std::string_view>& views = Corpus().views;
    for (auto _ : state) {
        TVectorIndex index;
        AddInChunks(index, views);
        benchmark::DoNotOptimize(index.LiveCount());
    }
}

void BM_Build_AddOneByOne(benchmark::State& state) {
    const std::vector<std::string_view>& views = Corpus().views;
    for (auto _ : state) {
        TVectorIndex index;
        index.Reserve(views.size());
        for (const std::string_view v : views)
            index.Add(v);
        benchmark::DoNotOptimize(index.LiveCount());
    }
}

// The baseline of building: only reading every stored text into a vector, as each literal pass
// does.
void BM_Build_ParseOnly(benchmark::State& state) {
    const std::vector<std::string>& texts = Corpus().texts;
    for (auto _ : state) {
        size_t lines = 0;
        for (const std::string& t : texts) {
            TcvVector stored;
            stored.SetText(t);
            lines += static_cast<size_t>(stored.Count());
        }
        benchmark::DoNotOptimize(lines);
    }
}

BENCHMARK(BM_Search_Index)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_ChunkedIndex)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_Literal)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Build_Index)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Build_Chunked)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Build_AddOneByOne)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Build_ParseOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) ftimes[CaseName(run)] = Millis(run);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        for (int q = 0; q < 3; ++q) {
            const double index = Find("BM_Search_Index/" + std::to_string(q));
            const double literal = Find("BM_Search_Literal/" + std::to_string(q));
            if (index > 0 && literal > 0) {
                std::printf(
                    "search, %s: index %.2f ms, literal pass %.1f ms, literal / index = %.0f\n",
                    QueryName(q), index, literal, literal / index);
            }
        }
        for (int q = 0; q < 3; ++q) {
            const double index = Find("BM_Search_Index/" + std::to_string(q));
            const double chunked = Find("BM_Search_ChunkedIndex/" + std::to_string(q));
            if (index > 0 && chunked > 0) {
                std::printf("search, %s: index built in chunks / in one batch = %.2f\n",
                            QueryName(q), chunked / index);
            }
        }
        const double parse = Find("BM_Build_ParseOnly");
        const double batch = Find("BM_Build_Index");
        const double chunked = Find("BM_Build_Chunked");
        if (batch > 0 && chunked > 0) {
            std::printf(
                "build in chunks of %zu: %.1f ms, one batch %.1f ms, chunks / batch = %.2f\n",
                kChunk, chunked, batch, chunked / batch);
        }
        const double batchBytes = static_cast<double>(Index().MemoryUsage());
        const double chunkedBytes = static_cast<double>(ChunkedIndex().MemoryUsage());
        std::printf("memory: one batch %.1f MB, in chunks %.1f MB, chunks / batch = %.2f\n",
                    batchBytes / 1e6, chunkedBytes / 1e6, chunkedBytes / batchBytes);
        for (const char* build : {"BM_Build_Index", "BM_Build_Chunked", "BM_Build_AddOneByOne"}) {
            const double t = Find(build);
            if (t > 0 && parse > 0) {
                std::printf("%s: %.1f ms, parsing only %.1f ms, build / parse = %.2f\n", build, t,
                            parse, t / parse);
            }
        }
    }

private:
    // The benchmark's name without the "/iterations:n" that a fixed count adds.
    static std::string CaseName(const Run& run) {
        std::string name = run.benchmark_name();
        const size_t at = name.find("/iterations:");
        return at == std::string::npos ? name : name.substr(0, at);
    }
    static double Millis(const Run& run) {
        const double scale = run.time_unit == benchmark::kMillisecond   ? 1.0
                             : run.time_unit == benchmark::kMicrosecond ? 1e-3
                             : run.time_unit == benchmark::kSecond      ? 1e3
                                                                        : 1e-6;
        return run.GetAdjustedRealTime() * scale;
    }
    double Find(const std::string& name) const {
        const auto it = ftimes.find(name);
        return it == ftimes.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> ftimes;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
