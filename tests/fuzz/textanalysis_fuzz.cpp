// Fuzzes the text analysis with arbitrary bytes, as a paste into the problem box can give it.
// Checked on every input:
// - PorterStem never lengthens a word, gives the same stem from its string and in-place forms,
//   and in place touches nothing outside the range it was given;
// - EncodeCV agrees line for line and bit for bit with its straightforward twin, makes one line
//   term=count per distinct term whose counts add up to the number of words, and its stored
//   text reads back to the same lines with the same magnitude;
// - a vector scored against itself read back from its stored text scores 1 (to float rounding).
// Nothing may raise: EncodeCV makes only valid counts.
#include <bit>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "port/strconv.h"
#include "textsearch/cvvector.h"
#include "textsearch/linearcv.h"
#include "textsearch/similarity.h"
#include "textsearch/uPorterStem.h"

namespace {

void CheckStemmer(std::string_view word) {
    const std::string stem = PorterStem(word);
    FUZZ_CHECK(stem.size() <= word.size());

    // In place, on the middle of a buffer: the bytes around the range stay as they were.
    const std::string guard = "<>";
    std::string buffer = guard + std::string(word) + guard;
    const int first = static_cast<int>(guard.size());
    const int last = first + static_cast<int>(word.size()) - 1;
    const int end = PorterStem(buffer.data(), first, last);
    FUZZ_CHECK(end <= last);
    FUZZ_CHECK(end >= first - 1);
    FUZZ_CHECK(buffer.substr(static_cast<size_t>(first), static_cast<size_t>(end - first + 1)) ==
               stem);
    FUZZ_CHECK(buffer.substr(0, guard.size()) == guard);
    FUZZ_CHECK(buffer.substr(buffer.size() - guard.size()) == guard);
}

int WordsIn(std::string_view text) {
    const std::string cleaned = StripNonAlphaNum(text);
    int words = 0;
    bool inWord = false;
    for (const char c : cleaned) {
        const bool letter = c != ' ';
        if (letter && !inWord) ++words;
        inWord = letter;
    }
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (size <= 64) CheckStemmer(text);

    const auto cv = EncodeCV(text);
    const auto linear = EncodeCVLinear(text);
    FUZZ_CHECK(cv->Lines() == linear->Lines());
    FUZZ_CHECK(std::bit_cast<uint32_t>(cv->magnitude) ==
               std::bit_cast<uint32_t>(linear->magnitude));

    std::set<std::string> names;
    int64_t total = 0;
    for (int i = 0; i < cv->Count(); ++i) {
        const std::string name = cv->Names(i);
        FUZZ_CHECK(names.insert(name).second);
        const auto count = TryStrToInt(cv->ValueFromIndex(i));
        FUZZ_CHECK(count && *count > 0);
        total += *count;
        // Every term is a stem of a word of letters and digits, lower case.
        for (const char c : name)
            FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    }
    FUZZ_CHECK(total == WordsIn(text));

    TcvVector stored;
    stored.SetText(cv->Text());
    FUZZ_CHECK(stored.Lines() == cv->Lines());
    FUZZ_CHECK(std::bit_cast<uint32_t>(Magnitude(stored)) ==
               std::bit_cast<uint32_t>(cv->magnitude));
    const float self = Proximity(*cv, stored);
    if (cv->Count() > 0) {
        FUZZ_CHECK(self > 0.999f && self < 1.001f);
    } else {
        FUZZ_CHECK(self == 0.0f);
    }
    return 0;
}
