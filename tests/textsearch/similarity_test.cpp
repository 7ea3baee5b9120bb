// Scores, with their exact float values: the search keeps texts scoring above 0.25, so a score
// one float step off changes which entries are shown.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "port/errors.h"
#include "textsearch/cvvector.h"
#include "textsearch/linearcv.h"
#include "textsearch/similarity.h"

namespace {

TcvVector Stored(std::string_view text) {
    TcvVector v;
    v.SetText(EncodeCV(text)->Text());
    return v;
}

TcvVector ListOf(std::initializer_list<std::string> lines, float magnitude = 0) {
    TcvVector v;
    for (const std::string& line : lines)
        v.Add(line);
    v.magnitude = magnitude;
    return v;
}

std::string ErrorOf(const TcvVector& a, const TcvVector& b) {
    try {
        Proximity(a, b);
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "no error";
}

TEST(Proximity, OneTermQueryScoresOneWhereverTheTermIs) {
    const auto query = EncodeCV("printer");
    EXPECT_EQ(Proximity(*query, Stored("printer")), 1.0f);
    EXPECT_EQ(Proximity(*query, Stored("printers printer PRINTER paper")), 1.0f);
    EXPECT_EQ(Proximity(*query, Stored("paper jam")), 0.0f);
}

TEST(Proximity, SharingOneOfKSingleTerms) {
    EXPECT_EQ(Proximity(*EncodeCV("alpha beta"), Stored("beta")), 0x1.6a09e6p-1f);  // 0.7071
    EXPECT_EQ(Proximity(*EncodeCV("alpha beta gamma"), Stored("gamma gamma")),
              0x1.279a74p-1f);  // 0.5774
    std::string sixteen;
    for (char c = 'a'; c < 'a' + 16; ++c)
        sixteen += std::string(3, c) + " ";
    const auto query = EncodeCV(sixteen);
    ASSERT_EQ(query->Count(), 16);
    EXPECT_EQ(Proximity(*query, Stored("ggg")), 0.25f);  // exactly: not above the threshold
}

TEST(Proximity, EqualProportionsCanGiveTheFloatAboveOne) {
    // Squared counts adding up to 18: both magnitudes are sqrt(18) rounded to float.
    const auto query = EncodeCV("disk disk disk full full full");
    EXPECT_EQ(Proximity(*query, Stored("full full full disk disk disk")), 0x1.000002p+0f);
    EXPECT_EQ(Proximity(*query, Stored("disk full")), 0x1.000002p+0f);
}

TEST(Proximity, PrintersExamples) {
    const auto query = EncodeCV("Printers print; the printer jams.");
    const TcvVector stored = Stored("The printer jams when I print envelopes");
    EXPECT_EQ(QueryMagnitude(*query, stored), 2.0f);
    EXPECT_EQ(DotProduct(*query, stored), 5.0f);
    EXPECT_EQ(Proximity(*query, stored), 0x1.e3cb66p-1f);  // 5 / (sqrt 7 * 2) = 0.9449
    EXPECT_EQ(Proximity(*EncodeCV("printer jams"), Stored("printer printer cable")),
              0x1.6a09e6p-1f);  // 2 / (sqrt 2 * 2)
}

TEST(Proximity, EmptyOrZeroMagnitudeQueriesScoreZero) {
    const TcvVector stored = Stored("printer jams");
    EXPECT_EQ(Proximity(*EncodeCV(""), stored), 0.0f);
    TcvVector noMagnitude = ListOf({"printer=1"}, 0);
    EXPECT_EQ(Proximity(noMagnitude, stored), 0.0f);
}

TEST(Proximity, OnlyTheQueryTermsOfTheStoredVectorCount) {
    const auto query = EncodeCV("printer jams");
    const float plain = Proximity(*query, Stored("printer jams jams"));
    EXPECT_EQ(Proximity(*query, Stored("printer jams jams toner cable paper tray driver")), plain);
    // A later line with the same name, in any case, is ignored.
    const TcvVector dup = ListOf({"printer=1", "jam=2", "PRINTER=50", "printer=9"});
    EXPECT_EQ(QueryMagnitude(*query, dup), std::sqrt(5.0f));
    EXPECT_EQ(Proximity(*query, dup), plain);
    // Names match ignoring case.
    EXPECT_EQ(Proximity(*query, ListOf({"Printer=1", "JAM=2"})), plain);
}

TEST(Proximity, AbsentAndEmptyCountsReadAsZero) {
    const TcvVector query = ListOf({"a=1", "b=1"}, std::sqrt(2.0f));
    EXPECT_EQ(QueryMagnitude(query, ListOf({"a=", "b=3"})), 3.0f);
    EXPECT_EQ(DotProduct(query, ListOf({"a=", "b=3"})), 3.0f);
    EXPECT_EQ(Proximity(query, ListOf({"a=", "c=3"})), 0.0f);
    // The empty term ('ing') is a name like any other: "=1" and lines without '='.
    const TcvVector ing = ListOf({"=2"}, 2);
    EXPECT_EQ(DotProduct(ing, ListOf({"x=1", "=3"})), 6.0f);
    EXPECT_EQ(DotProduct(ing, ListOf({"x4", "=3"})), 8.0f);  // "x4" has the empty name, value "4"
}

TEST(Proximity, MalformedCountsRaiseWithTheConvertedText) {
    const auto query = EncodeCV("printer jams");
    EXPECT_EQ(ErrorOf(*query, ListOf({"printer=x1"})), "'0x1' is not a valid integer value");
    EXPECT_EQ(ErrorOf(*query, ListOf({"jam=-1"})), "'0-1' is not a valid integer value");
    EXPECT_EQ(ErrorOf(*query, ListOf({"jam= 1"})), "'0 1' is not a valid integer value");
    EXPECT_EQ(ErrorOf(*query, ListOf({"jam=2147483648"})),
              "'02147483648' is not a valid integer value");
    EXPECT_EQ(Proximity(*query, ListOf({"jam=02147483647"})), 0x1.6a09e6p-1f);
    // Lines of other terms are never converted.
    EXPECT_EQ(Proximity(*query, ListOf({"jam=1", "toner=lots"})), 0x1.6a09e6p-1f);
    // The stored side raises even for a query whose magnitude is 0.
    const TcvVector zero = ListOf({"printer=1"}, 0);
    EXPECT_EQ(ErrorOf(zero, ListOf({"printer=x"})), "'0x' is not a valid integer value");
    // A malformed query count only shows in the dot product, after a non-zero denominator.
    const TcvVector badQuery = ListOf({"printer=1", "jam=y"}, 1);
    EXPECT_EQ(Proximity(badQuery, ListOf({"toner=1"})), 0.0f);
    EXPECT_EQ(ErrorOf(badQuery, ListOf({"printer=1"})), "'0y' is not a valid integer value");
}

TEST(Proximity, LargeCountsNoLongerOverflow) {
    // Squares and products above 2^31 (counts above 46340), as in a long pasted log.
    const TcvVector query = ListOf({"error=50000"}, 50000);
    EXPECT_EQ(QueryMagnitude(query, ListOf({"error=60000"})), 60000.0f);
    EXPECT_EQ(DotProduct(query, ListOf({"error=60000"})), 3.0e9f);
    EXPECT_EQ(Proximity(query, ListOf({"error=60000"})), 1.0f);
    const TcvVector two = ListOf({"a=2147483647", "b=2147483647"}, 0x1.6a09e6p+31f);
    const float score = Proximity(two, ListOf({"a=2147483647", "b=2147483647"}));
    EXPECT_TRUE(score > 0.99f && score < 1.01f) << score;
    // Just below the old overflow nothing changes: 46340^2 + 1 fits in 32 bits.
    const TcvVector edge = ListOf({"a=46340", "b=1"}, 0);
    EXPECT_EQ(QueryMagnitude(edge, ListOf({"a=46340", "b=1"})),
              static_cast<float>(std::sqrt(2147395601.0)));
}

TEST(Proximity, DotProductRoundsToFloatAfterEachAddition) {
    // 2^24 + 1 is not a float: adding 1 to 2^24 twice stays at 2^24, while adding 2 once does not.
    const TcvVector query = ListOf({"a=16777216", "b=1", "c=1"}, 1);
    EXPECT_EQ(DotProduct(query, ListOf({"a=1", "b=1", "c=1"})), 16777216.0f);
    const TcvVector other = ListOf({"b=1", "c=1", "a=16777216"}, 1);
    EXPECT_EQ(DotProduct(other, ListOf({"a=1", "b=1", "c=1"})), 16777218.0f);
}

// Random vectors with malformed, duplicate and odd lines, big and small, against the linear
// algorithms: the table lookups of larger pairs must give the same results and errors.
TEST(Proximity, AgreesWithTheLinearAlgorithm) {
    std::mt19937 rng(11);
    const std::vector<std::string> names = {"a", "A", "b", "printer", "PRINTER", "", "c\xE9", "d"};
    const std::vector<std::string> values = {"1", "2",          "17",          "",    "x", "-3",
                                             "0", "2147483647", "99999999999", "0007"};
    auto randomVector = [&](int maxLines) {
        TcvVector v;
        const int n = static_cast<int>(rng() % (maxLines + 1));
        for (int i = 0; i < n; ++i) {
            const int kind = static_cast<int>(rng() % 10);
            std::string name = names[rng() % names.size()] + std::to_string(rng() % 40);
            if (kind == 0) {
                v.Add(name);  // no '='
            } else if (kind == 1) {
                v.Add("");
            } else {
                v.Add(name + "=" +
                      (kind < 8 ? std::to_string(1 + rng() % 20) : values[rng() % values.size()]));
            }
        }
        v.magnitude = (rng() % 5 == 0) ? 0.0f : static_cast<float>(rng() % 100) / 7.0f;
        return v;
    };
    auto outcome = [](auto&& f) -> std::pair<std::optional<float>, std::string> {
        try {
            return {f(), ""};
        } catch (const EConvertError& e) {
            return {std::nullopt, e.what()};
        }
    };
    for (int round = 0; round < 3000; ++round) {
        // Small pairs are scanned, larger ones looked up in a table of the query's names.
        static const int sizes[][2] = {{6, 12}, {120, 240}, {240, 30}};
        const TcvVector a = randomVector(sizes[round % 3][0]);
        const TcvVector b = randomVector(sizes[round % 3][1]);
        const auto fast = outcome([&] { return Proximity(a, b); });
        const auto linear = outcome([&] { return ProximityLinear(a, b); });
        ASSERT_EQ(fast.second, linear.second);
        if (fast.first) {
            ASSERT_EQ(std::bit_cast<uint32_t>(*fast.first), std::bit_cast<uint32_t>(*linear.first));
        }
        const auto qm = outcome([&] { return QueryMagnitude(a, b); });
        const auto qmLinear = outcome([&] { return QueryMagnitudeLinear(a, b); });
        ASSERT_EQ(qm, qmLinear);
        const auto dp = outcome([&] { return DotProduct(a, b); });
        const auto dpLinear = outcome([&] { return DotProductLinear(a, b); });
        ASSERT_EQ(dp, dpLinear);
    }
}

}  // namespace
