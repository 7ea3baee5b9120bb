// Filling the score tree and reading every position from the last to the first, as the results
// panel does after a search pass, beside the literal unbalanced tree with recursive walks. Equal
// keys (a one-word query gives every hit the same score) make that tree a chain, so its reads
// cost n^2/2 node visits and its recursion is as deep as the chain: the baseline is capped at
// 20,000 nodes, where the stack still holds, and the tree is also measured at that size for the
// ratio. After the run, each case's time is printed as a ratio to its baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "textsearch/scoretree.h"

namespace {

struct Hit {
    int id;
};

constexpr int kBaselineCap = 20000;

// The unbalanced tree as first written: less goes left, the rest right; positional lookup by a
// recursive in-order walk that stops once the position is reached.
class LiteralTree {
public:
    void insert(float key, Hit* value) {
        if (!froot) {
            froot = NewNode(key, value);
            return;
        }
        Insert(key, value, froot.get());
    }
    Hit* Items(int index) const {
        int counter = 0;
        const Node* found = nullptr;
        Scroll(froot.get(), index, counter, found);
        return found ? found->data : nullptr;
    }

private:
    struct Node {
        float key;
        std::unique_ptr<Node> left, right;
        int index;
        Hit* data;
    };
    std::unique_ptr<Node> NewNode(float key, Hit* value) {
        return std::make_unique<Node>(Node{key, nullptr, nullptr, fcount++, value});
    }
    void Insert(float key, Hit* value, Node* leaf) {
        std::unique_ptr<Node>& child = key < leaf->key ? leaf->left : leaf->right;
        if (child)
            Insert(key, value, child.get());
        else
            child = NewNode(key, value);
    }
    static void Scroll(const Node* leaf, int index, int& counter, const Node*& found) {
        if (!leaf) return;
        Scroll(leaf->left.get(), index, counter, found);
        if (found) return;
        if (counter == index) found = leaf;
        ++counter;
        Scroll(leaf->right.get(), index, counter, found);
    }
    std::unique_ptr<Node> froot;
    int fcount = 0;
};

std::vector<float> Keys(bool equal, int n) {
    std::vector<float> keys(static_cast<std::size_t>(n), 1.0f);
    if (!equal) {
        std::mt19937 rng(42);
        std::uniform_real_distribution<float> score(0.25f, 1.0f);
        for (float& key : keys)
            key = score(rng);
    }
    return keys;
}

template <class Tree>
void FillAndRead(benchmark::State& state, bool equal) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<float> keys = Keys(equal, n);
    Hit hit{0};
    for (auto _ : state) {
        Tree tree;
        for (float key : keys)
            tree.insert(key, &hit);
        long sum = 0;
        for (int i = n - 1; i >= 0; --i) {
            if constexpr (std::is_same_v<Tree, LiteralTree>)
                sum += tree.Items(i)->id;
            else
                sum += tree.Items(i)->data->id;
        }
        benchmark::DoNotOptimize(sum);
    }
}

void BM_EqualKeys_Tree(benchmark::State& state) {
    FillAndRead<TScoretree<Hit>>(state, true);
}
void BM_EqualKeys_Literal(benchmark::State& state) {
    FillAndRead<LiteralTree>(state, true);
}
void BM_RandomKeys_Tree(benchmark::State& state) {
    FillAndRead<TScoretree<Hit>>(state, false);
}
void BM_RandomKeys_Literal(benchmark::State& state) {
    FillAndRead<LiteralTree>(state, false);
}

BENCHMARK(BM_EqualKeys_Tree)->Arg(kBaselineCap)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EqualKeys_Literal)->Arg(kBaselineCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomKeys_Tree)->Arg(kBaselineCap)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomKeys_Literal)->Arg(kBaselineCap)->Unit(benchmark::kMillisecond);

// Keeps each run's time so that the ratios can be printed once all runs are done.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) ftimes[run.benchmark_name()] = Nanoseconds(run);
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::string cap(1, '/');  // built by append: GCC 12 warns falsely on "/" + string
        cap += std::to_string(kBaselineCap);
        for (const char* keys : {"EqualKeys", "RandomKeys"}) {
            const std::string tree = std::string("BM_") + keys + "_Tree";
            const std::string literal = std::string("BM_") + keys + "_Literal";
            const double base = Find(literal + cap);
            const double small = Find(tree + cap);
            const double large = Find(tree + "/200000");
            if (base <= 0 || small <= 0) continue;
            std::printf("%s: literal tree / score tree at %d nodes = %.1f\n", keys, kBaselineCap,
                        base / small);
            if (large > 0)
                std::printf(
                    "%s: score tree at 200000 nodes = %.2f ms (%.4f of the literal tree "
                    "at %d)\n",
                    keys, large / 1e6, large / base, kBaselineCap);
        }
    }

private:
    static double Nanoseconds(const Run& run) {
        const double scale = run.time_unit == benchmark::kMillisecond   ? 1e6
                             : run.time_unit == benchmark::kMicrosecond ? 1e3
                             : run.time_unit == benchmark::kSecond      ? 1e9
                                                                        : 1.0;
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
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
