// Literal renderings of the algorithms, kept as the reference the fast paths are held to. The
// only liberty taken is the overflow-free arithmetic of cvrules.h, which the fast paths share.
#include "textsearch/linearcv.h"

#include <string>

#include "port/strconv.h"
#include "textsearch/cvrules.h"

std::unique_ptr<TcvVector> EncodeCVLinear(std::string_view text, const TcvVector* stoplist) {
    TFasterStringList tokens;
    const std::string cleaned = StripNonAlphaNum(text);
    size_t b = 0;
    size_t e = cleaned.size();
    while (b < e && static_cast<unsigned char>(cleaned[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(cleaned[e - 1]) <= 32)
        --e;
    size_t p = b;
    while (p < e) {
        while (p < e && static_cast<unsigned char>(cleaned[p]) <= 32)
            ++p;
        const size_t start = p;
        while (p<e&& static_cast<unsigned char>(cleaned[p])> 32)
            ++p;
        if (p > start) tokens.Add(cleaned.substr(start, p - start));
    }

    auto result = std::make_unique<TcvVector>();
    for (int i = 0; i < tokens.Count(); ++i) {
        const std::string term = Prepared(tokens[i]);
        if (InStopList(stoplist, term)) continue;
        const int32_t vcount = StrToInt(cvrules::ZeroPrefixedText(result->Values(term)));
        if (vcount == 0) {
            result->Add(term + "=1");
        } else {
            result->SetValue(term, std::to_string(vcount + 1));
        }
    }
    result->magnitude = Magnitude(*result, nullptr);
    return result;
}

float QueryMagnitudeLinear(const TcvVector& Query, const TcvVector& CV) {
    double sum = 0;
    for (int i = 0; i < Query.Count(); ++i) {
        const std::string value = CV.Values(Query.Names(i));
        const int32_t val = value.empty() ? 0 : StrToInt(cvrules::ZeroPrefixedText(value));
        cvrules::AddSquare(sum, val);
    }
    return cvrules::RootOf(sum);
}

float DotProductLinear(const TcvVector& a, const TcvVector& b) {
    float dp = 0;
    for (int i = 0; i < a.Count(); ++i) {
        const int32_t val1 = StrToInt(cvrules::ZeroPrefixedText(a.ValueFromIndex(i)));
        const int32_t val2 = StrToInt(cvrules::ZeroPrefixedText(b.Values(a.Names(i))));
        dp = cvrules::AddProduct(dp, val1, val2);
    }
    return dp;
}

float ProximityLinear(const TcvVector& a, const TcvVector& b) {
    const float m1 = a.magnitude;
    const float m2 = QueryMagnitudeLinear(a, b);
    const double denominator = cvrules::Denominator(m1, m2);
    if (denominator == 0) return 0;
    return cvrules::Quotient(DotProductLinear(a, b), denominator);
}
