#include "textsearch/scoretext.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "port/localformat.h"

std::string ScoreText(float Proximity) {
    // nearbyint rounds in the default mode: to nearest, halves to even.
    double value = std::nearbyint(static_cast<double>(Proximity) * 1000.0) / 10.0;
    if (value == 0) value = 0;  // no "-0"
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    std::string result(text, ec == std::errc() ? end : text);
    std::replace(result.begin(), result.end(), '.', DecimalSeparator());
    return result;
}
