// Term vectors. The list keeps its lines in a plain vector and scans it for lookups by name:
// vectors are short and the scans are what the lookups mean (first match, case ignored).
//
// EncodeCV does not use those scans while it counts: a long pasted text would make them
// quadratic. Beside the growing result it keeps two hash indexes, lower-cased token -> term and
// term -> line, which give exactly what the scans would (terms are distinct, lower case and hold
// no '='), and writes the lines once at the end in order of first occurrence.
#include "textsearch/cvvector.h"

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "port/strconv.h"
#include "textsearch/cvrules.h"
#include "textsearch/uPorterStem.h"

using cvrules::EqualIgnoringAsciiCase;
using cvrules::FoldAscii;

void TFasterStringList::Assign(const TFasterStringList& other) {
    if (&other == this) return;
    flines = other.flines;
}

int TFasterStringList::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < flines.size(); ++i) {
        if (EqualIgnoringAsciiCase(cvrules::NameOf(flines[i]), name)) return static_cast<int>(i);
    }
    return -1;
}

std::string TFasterStringList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    if (i < 0) return std::string();
    return std::string(cvrules::ValueAfter(flines[static_cast<size_t>(i)], name.size()));
}

void TFasterStringList::SetValue(std::string_view name, std::string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) flines.erase(flines.begin() + i);
        return;
    }
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append(1, '=').append(value);
    if (i >= 0) {
        flines[static_cast<size_t>(i)] = std::move(line);
    } else {
        flines.push_back(std::move(line));
    }
}

std::string TFasterStringList::Names(int i) const {
    return std::string(cvrules::NameOf(flines[static_cast<size_t>(i)]));
}

std::string TFasterStringList::ValueFromIndex(int i) const {
    return std::string(cvrules::ValueOf(flines[static_cast<size_t>(i)]));
}

std::string TFasterStringList::Text() const {
    size_t size = 0;
    for (const std::string& line : flines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : flines)
        text.append(line).append("\r\n");
    return text;
}

void TFasterStringList::SetText(std::string_view text) {
    flines.clear();
    cvrules::ForEachStoredLine(text, [this](std::string_view line) { flines.emplace_back(line); });
}

int TFasterStringList::FastIndexOfName(std::string_view S) const {
    for (size_t i = 0; i < flines.size(); ++i) {
        const std::string& line = flines[i];
        if (line.size() >= S.size() &&
            EqualIgnoringAsciiCase(std::string_view(line).substr(0, S.size()), S)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

namespace {

bool IsAsciiAlphaNum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

struct TStringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>()(s);
    }
};

using TStringIndex = std::unordered_map<std::string, int32_t, TStringHash, std::equal_to<>>;

}  // namespace

std::string StripNonAlphaNum(std::string_view AText) {
    std::string result;
    result.reserve(AText.size());
    for (const char c : AText) {
        if (IsAsciiAlphaNum(c)) {
            result.push_back(c);
        } else if (c != '\0') {
            result.push_back(' ');
        }
    }
    if (result.empty()) result.push_back(' ');
    return result;
}

std::string Prepared(std::string_view token) {
    std::string lower(Trimmed(token));
    for (char& c : lower)
        c = FoldAscii(c);
    return PorterStem(lower);
}

bool InStopList(const TcvVector* stoplist, std::string_view term) {
    return stoplist != nullptr && stoplist->FastIndexOfName(term) >= 0;
}

float Magnitude(const TcvVector& CV, const TcvVector* /*weight*/) {
    double sum = 0;
    for (const std::string& line : CV.Lines())
        cvrules::AddSquare(sum, StrToInt(cvrules::ValueOf(line)));
    return cvrules::RootOf(sum);
}

std::unique_ptr<TcvVector> EncodeCV(std::string_view text, const TcvVector* stoplist) {
    const std::string cleaned = StripNonAlphaNum(text);
    const std::string_view body = Trimmed(cleaned);

    constexpr int32_t kStopped = -1;
    TStringIndex termOfToken;  // lower-cased token -> index into terms, or kStopped
    TStringIndex lineOfTerm;   // term -> index into terms
    std::vector<std::string> terms;
    std::vector<int64_t> counts;
    std::string lower;

    size_t p = 0;
    while (p < body.size()) {
        while (p < body.size() && IsBlank(body[p]))
            ++p;
        const size_t start = p;
        while (p < body.size() && !IsBlank(body[p]))
            ++p;
        if (p == start) break;
        // After cleaning a token holds only ASCII letters and digits: Prepared is lower-casing
        // and stemming, and a token's term depends on its lower-case form alone.
        lower.assign(body.substr(start, p - start));
        for (char& c : lower)
            c = FoldAscii(c);

        auto known = termOfToken.find(std::string_view(lower));
        if (known == termOfToken.end()) {
            std::string term = PorterStem(lower);
            int32_t slot;
            if (auto it = lineOfTerm.find(std::string_view(term)); it != lineOfTerm.end()) {
                slot = it->second;
            } else if (InStopList(stoplist, term)) {
                slot = kStopped;
                lineOfTerm.emplace(term, slot);
            } else {
                slot = static_cast<int32_t>(terms.size());
                lineOfTerm.emplace(term, slot);
                terms.push_back(std::move(term));
                counts.push_back(0);
            }
            known = termOfToken.emplace(lower, slot).first;
        }
        if (known->second != kStopped) ++counts[static_cast<size_t>(known->second)];
    }

    auto result = std::make_unique<TcvVector>();
    for (size_t i = 0; i < terms.size(); ++i) {
        std::string line = std::move(terms[i]);
        line.append(1, '=').append(std::to_string(counts[i]));
        result->Add(std::move(line));
    }
    result->magnitude = Magnitude(*result, nullptr);
    return result;
}
