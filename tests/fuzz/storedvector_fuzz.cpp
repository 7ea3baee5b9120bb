// Fuzzes what a search does with stored vector texts, which come from the knowledge base file and
// so may hold anything. The input's first line is typed text (vectorised with EncodeCV), the rest
// a stored vector text. Checked on every input:
// - reading the stored text back never yields a line holding a break or a NUL;
// - Proximity and its straightforward twin agree bit for bit, or both raise EConvertError, for
//   the typed query, for the typed text read as a stored vector and for the stored vector itself;
// - the vector index, built one text at a time, as one batch or as two (the first leaving a
//   segment open for the second), over one segment or several, searched on one thread or two,
//   scores every document exactly as Proximity scores its read-back vector, leaves out those
//   Proximity raises on, and forgets a removed one.
// Only EConvertError is an expected failure; anything else escaping is a finding.
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fuzz/fuzzcheck.h"
#include "port/errors.h"
#include "textsearch/cvvector.h"
#include "textsearch/linearcv.h"
#include "textsearch/similarity.h"
#include "textsearch/vectorindex.h"

namespace {

std::optional<float> Scored(float (*score)(const TcvVector&, const TcvVector&),
                            const TcvVector& query, const TcvVector& stored) {
    try {
        return score(query, stored);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

float Fast(const TcvVector& a, const TcvVector& b) {
    return Proximity(a, b);
}

bool SameScore(std::optional<float> a, std::optional<float> b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || std::bit_cast<uint32_t>(*a) == std::bit_cast<uint32_t>(*b);
}

enum class TAdding { OneByOne, OneBatch, TwoBatches };

void CheckIndex(const TcvVector& query, const std::vector<std::string_view>& texts,
                TVectorIndex::TOptions options, TAdding adding) {
    TVectorIndex index(options);
    if (adding == TAdding::OneByOne) {
        for (size_t i = 0; i < texts.size(); ++i)
            FUZZ_CHECK(index.Add(texts[i]) == i);
    } else if (adding == TAdding::OneBatch) {
        FUZZ_CHECK(index.AddBatch(texts) == 0);
    } else {
        const size_t cut = texts.size() - 2;
        FUZZ_CHECK(index.AddBatch(std::span(texts).first(cut)) == 0);
        FUZZ_CHECK(index.AddBatch(std::span(texts).subspan(cut)) == cut);
    }
    std::vector<std::optional<float>> expected;
    for (std::string_view text : texts) {
        TcvVector stored;
        stored.SetText(text);
        expected.push_back(Scored(Fast, query, stored));
    }
    // Every score a search can give lies above this threshold, so each scorable document is
    // listed.
    constexpr float kBelowAll = -1.0f;
    for (int pass = 0; pass < 2; ++pass) {
        TVectorIndex::TMatches found;
        index.Search(query, kBelowAll, found);
        size_t next = 0;
        for (size_t doc = 0; doc < texts.size(); ++doc) {
            const bool removed = pass == 1 && doc == 0;
            if (!expected[doc] || removed) {
                FUZZ_CHECK(next == found.size() || found[next].doc != doc);
                continue;
            }
            FUZZ_CHECK(next < found.size() && found[next].doc == doc);
            FUZZ_CHECK(SameScore(found[next].score, expected[doc]));
            ++next;
        }
        FUZZ_CHECK(next == found.size());
        index.Remove(0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = input.find('\n');
    const std::string_view typed =
        lineEnd == std::string_view::npos ? std::string_view() : input.substr(0, lineEnd);
    const std::string_view storedText =
        lineEnd == std::string_view::npos ? input : input.substr(lineEnd + 1);

    TcvVector stored;
    stored.SetText(storedText);
    for (const std::string& line : stored.Lines())
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);

    const auto query = EncodeCV(typed);
    TcvVector typedAsStored;
    typedAsStored.SetText(typed);
    for (const TcvVector* a : {query.get(), &typedAsStored, &stored}) {
        FUZZ_CHECK(SameScore(Scored(Fast, *a, stored), Scored(ProximityLinear, *a, stored)));
    }

    // Six documents: the stored text, the typed text as if stored, and halves of both, so that
    // terms are shared between documents.
    const std::vector<std::string_view> texts{storedText,
                                              typed,
                                              storedText.substr(storedText.size() / 2),
                                              storedText.substr(0, storedText.size() / 2),
                                              typed.substr(typed.size() / 2),
                                              storedText};
    const uint8_t knob = size > 0 ? data[0] : 0;
    TVectorIndex::TOptions options;
    options.segmentDocs = 1 + knob % 3;
    options.parallelPostings = (knob & 0x80) ? 1 : 200000;
    const TAdding adding = (knob & 0x40)   ? TAdding::OneBatch
                           : (knob & 0x20) ? TAdding::TwoBatches
                                           : TAdding::OneByOne;
    CheckIndex(*query, texts, options, adding);
    return 0;
}
