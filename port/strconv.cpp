#include "port/strconv.h"

#include <string>

#include "port/errors.h"

std::optional<int32_t> TryStrToInt(std::string_view text) noexcept {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    // Accumulate as a negative number so that INT32_MIN needs no special case.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 - (c - '0');
        if (value < INT32_MIN) return std::nullopt;
    }
    if (!negative) {
        if (value < -int64_t{INT32_MAX}) return std::nullopt;
        value = -value;
    }
    return static_cast<int32_t>(value);
}

int32_t StrToInt(std::string_view text) {
    if (auto value = TryStrToInt(text)) return *value;
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}
