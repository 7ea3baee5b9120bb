// The small rules that term-vector lines and scores obey, in one place so that the list, the
// similarity functions and the vector index can never drift apart: how a line splits into name
// and value, how names compare, how a stored text splits into lines, how a count converts, and
// the exact float steps of magnitudes, dot products and scores.
//
// Arithmetic: squares and products of counts are formed as exact 64-bit integers, so they
// cannot overflow (counts are 32-bit). Sums of squares are kept in a double, which holds them
// exactly up to 2^53 and never overflows; wherever the old 32-bit sums did not overflow the
// results are therefore bit for bit what they always were.
//
// Thread safety: pure functions.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "port/strconv.h"

namespace cvrules {

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// A hash of s that ignores ASCII letter case, for tables keyed by names.
inline uint64_t FoldedHash(std::string_view s) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(FoldAscii(c));
        h *= 1099511628211ull;
    }
    return h ^ (h >> 29);
}

// The part of line before its first '='; empty when it has none.
inline std::string_view NameOf(std::string_view line) {
    const size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

// The line from character nameLength + 1 (0-based) on: after the name and its '='. For a line
// without '=' (empty name) that is the line without its first character.
inline std::string_view ValueAfter(std::string_view line, size_t nameLength) {
    return nameLength + 1 < line.size() ? line.substr(nameLength + 1) : std::string_view();
}

inline std::string_view ValueOf(std::string_view line) {
    return ValueAfter(line, NameOf(line).size());
}

// Calls fn(line) for every line of a stored text: lines end at CR LF, a lone CR or a lone LF; a
// final break adds no empty line; a break after a break gives an empty line; a NUL ends it all.
template <class Fn>
void ForEachStoredLine(std::string_view text, Fn&& fn) {
    const size_t n = text.size();
    size_t p = 0;
    while (p < n && text[p] != '\0') {
        const size_t start = p;
        while (p < n && text[p] != '\0' && text[p] != '\r' && text[p] != '\n')
            ++p;
        fn(text.substr(start, p - start));
        if (p < n && text[p] == '\r') ++p;
        if (p < n && text[p] == '\n') ++p;
    }
}

// The value of "0" followed by value as a strict 32-bit integer, without building that text:
// value must be decimal digits only (possibly none) and at most INT32_MAX. The "0" in front
// rules out a sign, so a valid result is never negative.
inline std::optional<int32_t> TryZeroPrefixed(std::string_view value) noexcept {
    uint64_t v = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > INT32_MAX) return std::nullopt;
    }
    return static_cast<int32_t>(v);
}

// The text "0" followed by value, as converted where an absent count must read as 0.
inline std::string ZeroPrefixedText(std::string_view value) {
    std::string text;
    text.reserve(value.size() + 1);
    text.push_back('0');
    text.append(value);
    return text;
}

// As TryZeroPrefixed; raises "'0<value>' is not a valid integer value" otherwise.
inline int32_t ZeroPrefixed(std::string_view value) {
    if (const auto v = TryZeroPrefixed(value)) return *v;
    return StrToInt(ZeroPrefixedText(value));  // raises, with the text as converted
}

inline void AddSquare(double& sum, int32_t v) {
    sum += static_cast<double>(static_cast<int64_t>(v) * v);
}

// A magnitude: the square root of a sum of squares, rounded to a 32-bit float.
inline float RootOf(double sumOfSquares) {
    return static_cast<float>(std::sqrt(sumOfSquares));
}

// One step of a dot product: the exact product added to the float sum in double precision,
// the sum rounded back to a 32-bit float.
inline float AddProduct(float dp, int32_t a, int32_t b) {
    return static_cast<float>(static_cast<double>(dp) +
                              static_cast<double>(static_cast<int64_t>(a) * b));
}

// The denominator of a score: the two float magnitudes multiplied in double (exactly). A
// score whose denominator equals 0 is 0 and needs no dot product.
inline double Denominator(float m1, float m2) {
    return static_cast<double>(m1) * static_cast<double>(m2);
}

// The score: divided in double, rounded once to a 32-bit float. REQUIRES: denominator != 0.
inline float Quotient(float dp, double denominator) {
    return static_cast<float>(static_cast<double>(dp) / denominator);
}

}  // namespace cvrules
