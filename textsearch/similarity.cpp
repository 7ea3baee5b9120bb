// Similarity. Both operations start by resolving, for every line of the query, the value that
// the stored vector gives its name (its first line with that name, ASCII case ignored; absent
// reads as empty, which converts as 0 like an empty count). Small pairs are resolved by scanning
// the stored vector per query line; larger ones build a hash table of the query's names and walk
// the stored vector once, so a long stored vector is not scanned once per query term. Both ways
// give the same values, and the arithmetic then runs over the query's lines in order.
#include "textsearch/similarity.h"

#include <string_view>
#include <vector>

#include "textsearch/cvrules.h"

namespace {

using cvrules::NameOf;

// Below this many name comparisons a plain scan is cheaper than building a table.
constexpr size_t kScanLimit = 256;

// REQUIRES: CV outlives the result (the views point into its lines).
std::vector<std::string_view> ResolveByScan(const TcvVector& Query, const TcvVector& CV) {
    std::vector<std::string_view> values(Query.Lines().size());
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string_view name = NameOf(Query.Lines()[i]);
        for (const std::string& line : CV.Lines()) {
            if (cvrules::EqualIgnoringAsciiCase(NameOf(line), name)) {
                values[i] = cvrules::ValueAfter(line, name.size());
                break;
            }
        }
    }
    return values;
}

// Open addressing over distinct names (ASCII case ignored); each slot carries a value.
class TNameTable {
public:
    explicit TNameTable(size_t names) {
        size_t capacity = 16;
        while (capacity < 2 * names)
            capacity *= 2;
        fslots.resize(capacity);
    }

    struct TSlot {
        std::string_view name;
        std::string_view value;
        bool used = false;
        bool resolved = false;
    };

    // The slot of name, claimed for it when it was free.
    TSlot& Slot(std::string_view name) {
        const size_t mask = fslots.size() - 1;
        size_t s = cvrules::FoldedHash(name) & mask;
        while (fslots[s].used && !cvrules::EqualIgnoringAsciiCase(fslots[s].name, name)) {
            s = (s + 1) & mask;
        }
        TSlot& slot = fslots[s];
        if (!slot.used) {
            slot.used = true;
            slot.name = name;
        }
        return slot;
    }

    // The slot of name, or nullptr.
    TSlot* Find(std::string_view name) {
        const size_t mask = fslots.size() - 1;
        for (size_t s = cvrules::FoldedHash(name) & mask; fslots[s].used; s = (s + 1) & mask) {
            if (cvrules::EqualIgnoringAsciiCase(fslots[s].name, name)) return &fslots[s];
        }
        return nullptr;
    }

private:
    std::vector<TSlot> fslots;
};

// A table of the query's names, filled in one walk over the stored vector.
std::vector<std::string_view> ResolveByQueryTable(const TcvVector& Query, const TcvVector& CV) {
    const std::vector<std::string>& qlines = Query.Lines();
    TNameTable table(qlines.size());
    std::vector<TNameTable::TSlot*> slotOfLine(qlines.size());
    for (size_t i = 0; i < qlines.size(); ++i)
        slotOfLine[i] = &table.Slot(NameOf(qlines[i]));
    for (const std::string& line : CV.Lines()) {
        const std::string_view name = NameOf(line);
        TNameTable::TSlot* slot = table.Find(name);
        if (slot == nullptr || slot->resolved) continue;  // not a query name, or a later line
        slot->resolved = true;
        slot->value = cvrules::ValueAfter(line, name.size());
    }
    std::vector<std::string_view> values(qlines.size());
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = slotOfLine[i]->value;
    return values;
}

std::vector<std::string_view> Resolve(const TcvVector& Query, const TcvVector& CV) {
    const size_t q = Query.Lines().size();
    const size_t c = CV.Lines().size();
    if (q * c <= kScanLimit) return ResolveByScan(Query, CV);
    return ResolveByQueryTable(Query, CV);
}

float MagnitudeOf(const std::vector<std::string_view>& values) {
    double sum = 0;
    for (const std::string_view value : values) {
        // An empty value is 0 without being converted.
        if (!value.empty()) cvrules::AddSquare(sum, cvrules::ZeroPrefixed(value));
    }
    return cvrules::RootOf(sum);
}

float DotOf(const TcvVector& a, const std::vector<std::string_view>& values) {
    float dp = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        const int32_t val1 = cvrules::ZeroPrefixed(cvrules::ValueOf(a.Lines()[i]));
        const int32_t val2 = cvrules::ZeroPrefixed(values[i]);
        dp = cvrules::AddProduct(dp, val1, val2);
    }
    return dp;
}

}  // namespace

float QueryMagnitude(const TcvVector& Query, const TcvVector& CV, const TcvVector* /*weight*/) {
    return MagnitudeOf(Resolve(Query, CV));
}

float DotProduct(const TcvVector& a, const TcvVector& b, const TcvVector* /*weight*/) {
    return DotOf(a, Resolve(a, b));
}

float Proximity(const TcvVector& a, const TcvVector& b, const TcvVector* /*weight*/) {
    const std::vector<std::string_view> values = Resolve(a, b);
    const float m1 = a.magnitude;
    const float m2 = MagnitudeOf(values);
    const double denominator = cvrules::Denominator(m1, m2);
    if (denominator == 0) return 0;
    return cvrules::Quotient(DotOf(a, values), denominator);
}
