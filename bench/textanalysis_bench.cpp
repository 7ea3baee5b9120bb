// EncodeCV of a pasted text of 1 MB (about 150,000 tokens, 10,000 distinct terms) and Proximity
// against a stored vector of 10,000 lines, each beside its straightforward linear version (every
// term lookup a scan of the vector's lines). After the run, each fast case's time is printed as a
// ratio to its linear baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "textsearch/cvvector.h"
#include "textsearch/linearcv.h"
#include "textsearch/similarity.h"

namespace {

std::vector<std::string> Words(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> words;
    std::map<std::string, bool> seen;
    while (words.size() < count) {
        std::string w;
        const size_t length = 3 + rng() % 7;
        for (size_t i = 0; i < length; ++i)
            w += static_cast<char>('a' + rng() % 26);
        if (seen.emplace(w, true).second) words.push_back(w);
    }
    return words;
}

// A pasted text of about `bytes` bytes over 10,000 words, with capitals and punctuation.
const std::string& PastedText(size_t bytes) {
    static std::map<size_t, std::string> texts;
    std::string& text = texts[bytes];
    if (text.empty()) {
        const std::vector<std::string> words = Words(10000, 1);
        std::mt19937 rng(2);
        const char* separators[] = {" ", " ", " ", " ", ", ", ". ", "\r\n", " - ", "; "};
        while (text.size() < bytes) {
            std::string w = words[rng() % words.size()];
            if (rng() % 10 == 0) w[0] = static_cast<char>(w[0] - 32);
            text += w;
            text += separators[rng() % 9];
        }
    }
    return text;
}

void BM_EncodeCV_Fast(benchmark::State& state) {
    const std::string& text = PastedText(static_cast<size_t>(state.range(0)));
    std::unique_ptr<TcvVector> v;
    for (auto _ : state) {
        v = EncodeCV(text);
        benchmark::DoNotOptimize(v.get());
    }
    size_t tokens = 0;
    for (int i = 0; i < v->Count(); ++i)
        tokens += std::stoul(v->ValueFromIndex(i));
    state.counters["terms"] = v->Count();
    state.counters["tokens"] = static_cast<double>(tokens);
}

void BM_EncodeCV_Linear(benchmark::State& state) {
    const std::string& text = PastedText(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        auto v = EncodeCVLinear(text);
        benchmark::DoNotOptimize(v);
    }
}

// A stored vector of `lines` lines and a query of 50 of its terms plus 50 it lacks.
struct TProximityCase {
    TcvVector stored;
    TcvVector query;
};

const TProximityCase& ProximityCase(size_t lines) {
    static std::map<size_t, std::unique_ptr<TProximityCase>> cases;
    auto& c = cases[lines];
    if (!c) {
        c = std::make_unique<TProximityCase>();
        const std::vector<std::string> words = Words(lines + 50, 3);
        std::mt19937 rng(4);
        for (size_t i = 0; i < lines; ++i) {
            c->stored.Add(words[i] + "=" + std::to_string(1 + rng() % 9));
        }
        for (size_t i = 0; i < 50; ++i) {
            c->query.Add(words[rng() % lines] + "=" + std::to_string(1 + rng() % 3));
            c->query.Add(words[lines + i] + "=1");
        }
        c->query.magnitude = Magnitude(c->query);
    }
    return *c;
}

void BM_Proximity_Fast(benchmark::State& state) {
    const TProximityCase& c = ProximityCase(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Proximity(c.query, c.stored));
}

void BM_Proximity_Linear(benchmark::State& state) {
    const TProximityCase& c = ProximityCase(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ProximityLinear(c.query, c.stored));
}

BENCHMARK(BM_EncodeCV_Fast)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeCV_Linear)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_Proximity_Fast)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Proximity_Linear)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Keeps each run's time so that the ratios can be printed once all runs are done.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) ftimes[CaseName(run)] = Seconds(run);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        for (const auto& [name, fast] : ftimes) {
            const size_t at = name.find("_Fast");
            if (at == std::string::npos) continue;
            const std::string linear = name.substr(0, at) + "_Linear" + name.substr(at + 5);
            const auto it = ftimes.find(linear);
            if (it == ftimes.end() || fast <= 0) continue;
            std::printf("%s: %.3f ms, linear %.3f ms, linear / fast = %.1f\n", name.c_str(),
                        fast * 1e3, it->second * 1e3, it->second / fast);
        }
    }

private:
    // The benchmark's name without the "/iterations:n" that a fixed count adds.
    static std::string CaseName(const Run& run) {
        std::string name = run.benchmark_name();
        const size_t at = name.find("/iterations:");
        return at == std::string::npos ? name : name.substr(0, at);
    }
    static double Seconds(const Run& run) {
        const double scale = run.time_unit == benchmark::kMillisecond   ? 1e-3
                             : run.time_unit == benchmark::kMicrosecond ? 1e-6
                             : run.time_unit == benchmark::kSecond      ? 1.0
                                                                        : 1e-9;
        return run.GetAdjustedRealTime() * scale;
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
