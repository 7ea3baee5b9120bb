// The score tree's order against a literal unbalanced tree, its positions and insertion numbers,
// and the hand-over of a prepared tree to readers on other threads.
#include "textsearch/scoretree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Hit {
    int id;
};

// The unbalanced tree exactly as the ordering is defined: less goes left, anything else right,
// read by a recursive in-order walk. Small sizes only.
class ReferenceTree {
public:
    void insert(float key, int id) { Insert(froot, key, id); }
    std::vector<int> InOrder() const {
        std::vector<int> out;
        Walk(froot.get(), out);
        return out;
    }

private:
    struct Node {
        float key;
        int id;
        std::unique_ptr<Node> left, right;
    };
    static void Insert(std::unique_ptr<Node>& leaf, float key, int id) {
        if (!leaf) {
            leaf = std::make_unique<Node>(Node{key, id, nullptr, nullptr});
            return;
        }
        Insert(key < leaf->key ? leaf->left : leaf->right, key, id);
    }
    static void Walk(const Node* leaf, std::vector<int>& out) {
        if (!leaf) return;
        Walk(leaf->left.get(), out);
        out.push_back(leaf->id);
        Walk(leaf->right.get(), out);
    }
    std::unique_ptr<Node> froot;
};

std::vector<int> PayloadOrder(const TScoretree<Hit>& tree) {
    std::vector<int> out;
    for (int i = 0; i < tree.Count(); ++i)
        out.push_back(tree.Items(i)->data->id);
    return out;
}

TEST(ScoreTree, EmptyTreeAndPositionsOutOfRange) {
    TScoretree<Hit> tree;
    EXPECT_EQ(tree.Count(), 0);
    EXPECT_EQ(tree.Items(0), nullptr);
    EXPECT_EQ(tree.Items(-1), nullptr);

    Hit a{1};
    tree.insert(0.5f, &a);
    EXPECT_EQ(tree.Items(1), nullptr);
    EXPECT_EQ(tree.Items(-1), nullptr);
    EXPECT_EQ(tree.Items(std::numeric_limits<int>::min()), nullptr);
    ASSERT_NE(tree.Items(0), nullptr);
    EXPECT_EQ(tree.Items(0)->data, &a);
}

TEST(ScoreTree, EqualKeysKeepInsertionOrderAscending) {
    TScoretree<Hit> tree;
    Hit a{0}, b{1}, c{2};
    tree.insert(0.5f, &a);
    tree.insert(0.9f, &b);
    tree.insert(0.5f, &c);
    ASSERT_EQ(tree.Count(), 3);
    EXPECT_EQ(tree.Items(0)->data, &a);
    EXPECT_EQ(tree.Items(1)->data, &c);
    EXPECT_EQ(tree.Items(2)->data, &b);
    EXPECT_EQ(tree.Items(3), nullptr);
    // Last position: the largest key; among equal largest keys, the one inserted last.
    Hit d{3};
    tree.insert(0.9f, &d);
    EXPECT_EQ(tree.Items(tree.Count() - 1)->data, &d);
    EXPECT_FLOAT_EQ(tree.Items(tree.Count() - 1)->key, 0.9f);
}

TEST(ScoreTree, IndexCountsInsertsSinceClearAndPayloadsSurvive) {
    TScoretree<Hit> tree;
    auto a = std::make_unique<Hit>(Hit{7});
    tree.insert(0.8f, a.get());
    tree.insert(0.3f, a.get());
    tree.Clear();
    EXPECT_EQ(tree.Count(), 0);
    EXPECT_EQ(tree.Items(0), nullptr);
    EXPECT_EQ(a->id, 7);  // still alive and untouched

    const float keys[] = {0.9f, 0.1f, 0.5f, 0.5f};
    for (float key : keys)
        tree.insert(key, a.get());
    // Position order 0.1, 0.5, 0.5, 0.9 carries insertion numbers 1, 2, 3, 0.
    const int expected[] = {1, 2, 3, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tree.Items(i)->index, expected[i]) << "position " << i;
        EXPECT_EQ(tree.Items(i)->key, keys[expected[i]]);
    }
}

TEST(ScoreTree, NodesStayPutWhileTheTreeGrows) {
    TScoretree<Hit> tree;
    Hit a{0};
    tree.insert(0.5f, &a);
    psnode<Hit> first = tree.Items(0);
    for (int i = 0; i < 30000; ++i)  // past the first four blocks of nodes
        tree.insert(0.4f, &a);
    EXPECT_EQ(tree.Items(tree.Count() - 1), first);
    EXPECT_EQ(first->index, 0);
}

TEST(ScoreTree, ZeroSignsCompareEqual) {
    TScoretree<Hit> tree;
    Hit a{0}, b{1}, c{2};
    tree.insert(0.0f, &a);
    tree.insert(-0.0f, &b);
    tree.insert(0.0f, &c);
    EXPECT_EQ(PayloadOrder(tree), (std::vector<int>{0, 1, 2}));
}

// Random keys from a small set (many ties), optionally with NaNs and signed zeros, against the
// literal tree; reads interleaved with inserts exercise the incremental ordering.
TEST(ScoreTree, MatchesTheLiteralTreeOnRandomKeys) {
    std::mt19937 rng(20240611);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float pool[] = {0.0f,
                          -0.0f,
                          0.25f,
                          0.3f,
                          0.5f,
                          0.5f,
                          0.75f,
                          1.0f,
                          1.0f,
                          -1.0f,
                          std::numeric_limits<float>::infinity()};
    for (int round = 0; round < 400; ++round) {
        const bool withnan = round % 2 == 1;
        const int size = 1 + static_cast<int>(rng() % 300);
        TScoretree<Hit> tree;
        ReferenceTree reference;
        std::vector<Hit> hits(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i) {
            float key = pool[rng() % std::size(pool)];
            if (rng() % 4 == 0) key = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
            if (withnan && rng() % 10 == 0) key = nan;
            hits[static_cast<std::size_t>(i)].id = i;
            tree.insert(key, &hits[static_cast<std::size_t>(i)]);
            reference.insert(key, i);
            if (rng() % 50 == 0) tree.Prepare();  // a read in the middle of a run of inserts
        }
        ASSERT_EQ(PayloadOrder(tree), reference.InOrder())
            << "round " << round << ", size " << size << (withnan ? ", with NaN" : "");
        for (int i = 0; i < size; ++i)
            ASSERT_EQ(tree.Items(i)->index, tree.Items(i)->data->id);
    }
}

TEST(ScoreTree, LargePassesMatchTheLiteralTree) {
    // Passes of thousands of hits take the linear-time sort; ties, signed zeros and infinities
    // must still come out as the literal tree orders them. Some rounds' keys lie close
    // together, so that they share the high digits the sort skips; the last are scores.
    std::mt19937 rng(8);
    TScoretree<Hit>::TSortRoom shared;  // some rounds sort in one room, as a search index's do
    const float pool[] = {0.0f,
                          -0.0f,
                          0.25f,
                          0.5f,
                          1.0f,
                          1.0000001f,
                          -1.0f,
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()};
    for (int round = 0; round < 11; ++round) {
        const int size = 4096 + static_cast<int>(rng() % 4000);
        const bool close = round >= 6 && round < 9;
        const bool scores = round >= 9;  // as a search pass gives them: above 0.25, up to 1
        TScoretree<Hit> tree;
        ReferenceTree reference;
        std::vector<Hit> hits(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i) {
            float key = pool[rng() % std::size(pool)];
            if (rng() % 3 == 0) key = std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng);
            if (close) key = 0.75f + static_cast<float>(rng() % (round == 8 ? 2 : 3000)) * 1e-7f;
            if (scores)
                key =
                    rng() % 5 == 0 ? 1.0f : std::uniform_real_distribution<float>(0.25f, 1.0f)(rng);
            hits[static_cast<std::size_t>(i)].id = i;
            tree.insert(key, &hits[static_cast<std::size_t>(i)]);
            reference.insert(key, i);
        }
        if (round % 2) tree.Prepare(shared);
        ASSERT_EQ(PayloadOrder(tree), reference.InOrder()) << "round " << round;
    }
}

TEST(ScoreTree, NaNCasesAgainstTheLiteralTree) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::vector<float>> cases = {
        {nan},
        {nan, 0.5f, 0.2f, nan, 0.1f},
        {0.5f, nan, 0.2f, 0.7f, 0.6f, nan, 0.55f, 0.9f, 0.5f},
        {nan, nan, nan},
        {0.3f, 0.3f, nan, 0.3f, 0.2f, 0.4f},
    };
    for (const auto& keys : cases) {
        TScoretree<Hit> tree;
        ReferenceTree reference;
        std::vector<Hit> hits(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            hits[i].id = static_cast<int>(i);
            tree.insert(keys[i], &hits[i]);
            reference.insert(keys[i], static_cast<int>(i));
        }
        EXPECT_EQ(PayloadOrder(tree), reference.InOrder()) << "case of " << keys.size();
    }
}

// A chain deep enough to overflow a recursive walk; equal keys read back in insertion order.
TEST(ScoreTree, LongRunsOfEqualKeysNeedNoDeepRecursion) {
    TScoretree<Hit> tree;
    Hit a{0};
    const int n = 300000;
    for (int i = 0; i < n; ++i)
        tree.insert(1.0f, &a);
    tree.insert(std::numeric_limits<float>::quiet_NaN(), &a);
    for (int i = 0; i < n; ++i)
        tree.insert(1.0f, &a);
    for (int i = 0; i <= 2 * n; ++i)
        ASSERT_EQ(tree.Items(i)->index, i);
}

// The search pass prepares the tree on its thread; readers elsewhere then only read.
TEST(ScoreTree, PreparedTreeReadsFromOtherThreads) {
    TScoretree<Hit> tree;
    std::vector<Hit> hits(1000);
    std::thread builder([&] {
        for (int i = 0; i < 1000; ++i) {
            hits[static_cast<std::size_t>(i)].id = i;
            tree.insert(static_cast<float>(i % 7), &hits[static_cast<std::size_t>(i)]);
        }
        tree.Prepare();
    });
    builder.join();
    auto reader = [&] {
        float previous = -1.0f;
        for (int i = 0; i < tree.Count(); ++i) {
            EXPECT_GE(tree.Items(i)->key, previous);
            previous = tree.Items(i)->key;
        }
    };
    std::thread r1(reader), r2(reader);
    r1.join();
    r2.join();
}

}  // namespace
