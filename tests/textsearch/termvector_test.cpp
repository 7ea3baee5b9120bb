// The ordered list of lines, the terms EncodeCV makes and the stored text form. Stored vectors
// are compared with vectors made years later, so every term and line here is a contract.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "port/errors.h"
#include "textsearch/cvvector.h"
#include "textsearch/linearcv.h"

namespace {

std::vector<std::string> LinesOf(const TFasterStringList& list) {
    return list.Lines();
}

TcvVector ListOf(std::initializer_list<std::string> lines) {
    TcvVector v;
    for (const std::string& line : lines)
        v.Add(line);
    return v;
}

TEST(StringList, KeepsInsertionOrderAndDuplicates) {
    TcvVector v = ListOf({"b=1", "a=2", "b=3"});
    EXPECT_EQ(v.Count(), 3);
    EXPECT_EQ(v[0], "b=1");
    EXPECT_EQ(v[2], "b=3");
    v.Clear();
    EXPECT_EQ(v.Count(), 0);
}

TEST(StringList, ValuesFindTheFirstLineByNameIgnoringAsciiCase) {
    const TcvVector v = ListOf({"Printer=2", "printer=9", "jam=1", "noequals", "=7", "x=a=b"});
    EXPECT_EQ(v.Values("printer"), "2");
    EXPECT_EQ(v.Values("PRINTER"), "2");
    EXPECT_EQ(v.Values("x"), "a=b");  // the name ends at the first '='
    EXPECT_EQ(v.Values("missing"), "");
    // A line without '=' has the empty name; its value is the line from its second character.
    EXPECT_EQ(v.Values(""), "oequals");
    EXPECT_EQ(v.Names(3), "");
    EXPECT_EQ(v.ValueFromIndex(3), "oequals");
    EXPECT_EQ(v.Names(4), "");
    EXPECT_EQ(v.ValueFromIndex(4), "7");
    EXPECT_EQ(v.Names(5), "x");
    EXPECT_EQ(v.ValueFromIndex(5), "a=b");
}

TEST(StringList, CaseFoldingIsAsciiOnly) {
    const TcvVector v = ListOf({"caf\xC9=1", "caf\xE9=2"});
    EXPECT_EQ(v.Values("caf\xE9"), "2");
    EXPECT_EQ(v.Values("CAF\xC9"), "1");
    EXPECT_EQ(v.FastIndexOfName("CAF\xE9"), 1);
}

TEST(StringList, SetValueReplacesInPlaceAppendsOrDeletes) {
    TcvVector v = ListOf({"a=1", "B=2", "c=3"});
    v.SetValue("b", "5");
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"a=1", "b=5", "c=3"}));
    v.SetValue("d", "4");
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"a=1", "b=5", "c=3", "d=4"}));
    v.SetValue("A", "");
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"b=5", "c=3", "d=4"}));
    v.SetValue("zz", "");  // deleting what is not there changes nothing
    EXPECT_EQ(v.Count(), 3);
}

TEST(StringList, AssignCopiesAllLines) {
    TcvVector from = ListOf({"a=1", "b=2"});
    TcvVector to = ListOf({"z=9"});
    to.Assign(from);
    EXPECT_EQ(LinesOf(to), LinesOf(from));
    to.Assign(to);
    EXPECT_EQ(LinesOf(to), LinesOf(from));
}

TEST(StringList, FastIndexOfNameMatchesTheBeginningOfALine) {
    const TcvVector v = ListOf({"x=1", "then=1", "THEN=2"});
    EXPECT_EQ(v.FastIndexOfName("the"), 1);
    EXPECT_EQ(v.FastIndexOfName("then"), 1);
    EXPECT_EQ(v.FastIndexOfName("th"), 1);
    EXPECT_EQ(v.FastIndexOfName("THEN="), 1);
    EXPECT_EQ(v.FastIndexOfName("then=1x"), -1);  // longer than every line
    EXPECT_EQ(v.FastIndexOfName("hen"), -1);
    EXPECT_EQ(v.FastIndexOfName(""), 0);
    EXPECT_EQ(TcvVector().FastIndexOfName(""), -1);
}

TEST(StoredText, WritesEveryLineWithCrLf) {
    const TcvVector v = ListOf({"printer=2", "print=1", "", "jam=1"});
    EXPECT_EQ(v.Text(), "printer=2\r\nprint=1\r\n\r\njam=1\r\n");
    EXPECT_EQ(TcvVector().Text(), "");
}

TEST(StoredText, ReadingCutsAtEveryKindOfLineBreak) {
    TcvVector v;
    v.SetText("a=1\r\nb=2\rc=3\nd=4");
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"a=1", "b=2", "c=3", "d=4"}));
    v.SetText("a\r\n\r\n\n\rb\r\n");
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"a", "", "", "", "b"}));
    v.SetText("\n\r");  // LF then a lone CR: two empty lines
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"", ""}));
    v.SetText("\r\n");
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{""}));
    v.SetText("");
    EXPECT_EQ(v.Count(), 0);
}

TEST(StoredText, ReadingStopsAtNul) {
    TcvVector v = ListOf({"old=1"});
    v.SetText(std::string("a=1\r\nb=\0002\r\nc=3\r\n", 16));
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"a=1", "b="}));
    v.SetText(std::string("a=1\r\n\0c=3", 9));
    EXPECT_EQ(LinesOf(v), (std::vector<std::string>{"a=1"}));
    v.SetText(std::string("\0a=1", 4));
    EXPECT_EQ(v.Count(), 0);
}

TEST(StoredText, RoundTripKeepsLinesAndLeavesMagnitudeZero) {
    const auto made = EncodeCV("Printers print; the printer jams. ing ing");
    TcvVector back;
    back.magnitude = 5;
    back.SetText(made->Text());
    EXPECT_EQ(LinesOf(back), LinesOf(*made));
    EXPECT_EQ(back.magnitude, 5);  // reading does not touch it
    TcvVector fresh;
    fresh.SetText(made->Text());
    EXPECT_EQ(fresh.magnitude, 0);

    const TcvVector odd = ListOf({"", "a", "=", "x=", "", "\xFF=1"});
    TcvVector oddBack;
    oddBack.SetText(odd.Text());
    EXPECT_EQ(LinesOf(oddBack), LinesOf(odd));
}

TEST(Tokens, StripNonAlphaNumKeepsOnlyAsciiLettersAndDigits) {
    EXPECT_EQ(StripNonAlphaNum("e-mail, don't!"), "e mail  don t ");
    EXPECT_EQ(StripNonAlphaNum("caf\xE9\tX9\r\n"), "caf  X9  ");
    EXPECT_EQ(StripNonAlphaNum(std::string("ab\0cd", 5)), "abcd");  // NUL dropped, no space
    EXPECT_EQ(StripNonAlphaNum(""), " ");
    EXPECT_EQ(StripNonAlphaNum(std::string("\0\0", 2)), " ");
}

TEST(Tokens, PreparedTrimsLowerCasesAndStems) {
    EXPECT_EQ(Prepared("Connections"), "connect");
    EXPECT_EQ(Prepared("  PRINTERS\t"), "printer");
    EXPECT_EQ(Prepared("ING"), "");
    EXPECT_EQ(Prepared("Win98"), "win98");
}

TEST(Tokens, InStopListTestsTheBeginningOfLines) {
    const TcvVector stop = ListOf({"then=1"});
    EXPECT_FALSE(InStopList(nullptr, "the"));
    EXPECT_TRUE(InStopList(&stop, "the"));
    EXPECT_TRUE(InStopList(&stop, "then"));
    EXPECT_FALSE(InStopList(&stop, "theme"));
}

TEST(EncodeCV, TextsWithoutWordsGiveAnEmptyVector) {
    for (const std::string& text : {std::string(), std::string("   \t\r\n"),
                                    std::string("--- !!! \xE9\xE8"), std::string("\0\0", 2)}) {
        const auto v = EncodeCV(text);
        EXPECT_EQ(v->Count(), 0);
        EXPECT_EQ(v->magnitude, 0.0f);
        EXPECT_EQ(v->Text(), "");
    }
}

TEST(EncodeCV, CountsTermsIgnoringCaseInOrderOfFirstOccurrence) {
    EXPECT_EQ(LinesOf(*EncodeCV("Printer PRINTER printer")),
              (std::vector<std::string>{"printer=3"}));
    const auto errors = EncodeCV("error error error");
    EXPECT_EQ(LinesOf(*errors), (std::vector<std::string>{"error=3"}));
    EXPECT_EQ(errors->magnitude, 3.0f);
    EXPECT_EQ(LinesOf(*EncodeCV("connect connected connecting connection connections")),
              (std::vector<std::string>{"connect=5"}));
    EXPECT_EQ(LinesOf(*EncodeCV("b a b c a b")), (std::vector<std::string>{"b=3", "a=2", "c=1"}));
}

TEST(EncodeCV, PunctuationDigitsAndHighBytesSplitOrStay) {
    EXPECT_EQ(LinesOf(*EncodeCV("e-mail")), (std::vector<std::string>{"e=1", "mail=1"}));
    EXPECT_EQ(LinesOf(*EncodeCV("don't")), (std::vector<std::string>{"don=1", "t=1"}));
    EXPECT_EQ(LinesOf(*EncodeCV("Win98 1990s")), (std::vector<std::string>{"win98=1", "1990=1"}));
    EXPECT_EQ(LinesOf(*EncodeCV("caf\xE9")), (std::vector<std::string>{"caf=1"}));
    EXPECT_EQ(LinesOf(*EncodeCV("a is it")), (std::vector<std::string>{"a=1", "is=1", "it=1"}));
    EXPECT_EQ(LinesOf(*EncodeCV(std::string("prin\0ters", 9))),
              (std::vector<std::string>{"printer=1"}));
}

TEST(EncodeCV, TheTokenIngGivesTheEmptyTerm) {
    const auto v = EncodeCV("ing sing ING");
    EXPECT_EQ(LinesOf(*v), (std::vector<std::string>{"=2", "s=1"}));
    EXPECT_EQ(v->Text(), "=2\r\ns=1\r\n");
    EXPECT_EQ(v->magnitude, std::sqrt(5.0f));
}

TEST(EncodeCV, PrintersExample) {
    const auto v = EncodeCV("Printers print; the printer jams.");
    EXPECT_EQ(LinesOf(*v), (std::vector<std::string>{"printer=2", "print=1", "the=1", "jam=1"}));
    EXPECT_EQ(v->Text(), "printer=2\r\nprint=1\r\nthe=1\r\njam=1\r\n");
    EXPECT_EQ(v->magnitude, static_cast<float>(std::sqrt(7.0)));
    EXPECT_FLOAT_EQ(v->magnitude, 2.6457512f);
}

TEST(EncodeCV, StopListDropsTermsThatBeginALine) {
    const TcvVector stop = ListOf({"then=1"});
    const auto v = EncodeCV("the printer then jams then", &stop);
    EXPECT_EQ(LinesOf(*v), (std::vector<std::string>{"printer=1", "jam=1"}));
    EXPECT_EQ(v->magnitude, std::sqrt(2.0f));
}

TEST(EncodeCV, AgreesWithTheLinearAlgorithm) {
    std::mt19937 rng(7);
    const std::vector<std::string> words = {"Print",  "printers", "ing",    "the",   "THE",
                                            "jam",    "jammed",   "e-mail", "Win98", "caf\xE9",
                                            "errors", "error",    "x",      "12",    "sing"};
    const TcvVector stop = ListOf({"jam=1", "x"});
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 60);
        for (int i = 0; i < n; ++i) {
            text += words[rng() % words.size()];
            text += " ,.\t\n\0"[rng() % 6];
        }
        const TcvVector* stoplist = round % 3 == 0 ? &stop : nullptr;
        const auto fast = EncodeCV(text, stoplist);
        const auto linear = EncodeCVLinear(text, stoplist);
        ASSERT_EQ(LinesOf(*fast), LinesOf(*linear)) << text;
        ASSERT_EQ(fast->magnitude, linear->magnitude);
    }
}

TEST(Magnitude, ConvertsCountsWithoutALeadingZero) {
    EXPECT_EQ(Magnitude(ListOf({"a=3", "b=4"})), 5.0f);
    EXPECT_EQ(Magnitude(ListOf({"a=-3", "b=4"})), 5.0f);  // a sign is allowed here
    EXPECT_EQ(Magnitude(ListOf({})), 0.0f);
    try {
        Magnitude(ListOf({"a=1", "b="}));
        FAIL() << "an empty count must not convert";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_THROW(Magnitude(ListOf({"a= 1"})), EConvertError);
    EXPECT_THROW(Magnitude(ListOf({"a=0x1"})), EConvertError);
    EXPECT_THROW(Magnitude(ListOf({"a=2147483648"})), Exception);
}

TEST(Magnitude, HugeCountsDoNotOverflow) {
    // 46341 squared no longer fits in 32 bits.
    EXPECT_EQ(Magnitude(ListOf({"a=46341"})), 46341.0f);
    EXPECT_EQ(Magnitude(ListOf({"a=2147483647", "b=2147483647", "c=2147483647", "d=2147483647"})),
              static_cast<float>(2.0 * 2147483647.0));
    // Below the old overflow, exactly the square root of the integer sum.
    EXPECT_EQ(Magnitude(ListOf({"a=46340", "b=1"})), static_cast<float>(std::sqrt(2147395601.0)));
}

}  // namespace
