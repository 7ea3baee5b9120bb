// Per-character advance tables. A byte below 0x80 is its own slot, so ASCII text costs one
// look-up per byte as before; a multi-byte UTF-8 sequence is decoded and its code point mapped to
// its Windows-1252 byte, the table's slot. Anything the table does not hold ends the sum, and the
// caller measures the text whole.
#include "textsearch/renderpanel/textwidths.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace renderpanel {

namespace {

// Code points of the slots 0x80 to 0x9F (the bytes of Windows-1252). The five undefined bytes keep
// their C1 code points.
constexpr char32_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CodePointOfSlot(int slot) {
    return slot >= 0x80 && slot <= 0x9F ? kHigh1252[slot - 0x80] : static_cast<char32_t>(slot);
}

// (code point, slot) of the 32 high slots, by code point, for a binary search.
constexpr std::array<std::pair<char32_t, int>, 32> kBySlotCodePoint = [] {
    std::array<std::pair<char32_t, int>, 32> table{};
    for (int i = 0; i < 32; ++i)
        table[static_cast<std::size_t>(i)] = {kHigh1252[i], 0x80 + i};
    std::sort(table.begin(), table.end());
    return table;
}();

// A tab's width depends on where it starts: it advances to the next tab stop. Control characters
// and the soft hyphen take no width, which the probe in TTextWidths confirms for each font.
constexpr int kTab = '\t';

// Longer texts are measured whole, which keeps the sums in Advance64 far from overflow.
constexpr std::size_t kLongText = std::size_t{1} << 20;
// Advances at or above this (in 1/64 pixel) are treated as not additive, for the same reason.
constexpr std::uint64_t kHugeAdvance = std::uint64_t{1} << 20;

bool Continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The slot of the UTF-8 sequence at p (whose first byte is 0x80 or more), moving p past it; -1
// for a code point outside the table or bytes that are not UTF-8 (those QString::fromUtf8
// replaces, so only QFontMetrics knows their width).
int NextSlot(const unsigned char*& p, const unsigned char* end) {
    const unsigned char lead = *p;
    char32_t codepoint;
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (end - p < 2 || !Continuation(p[1])) return -1;
        codepoint = (char32_t{lead} & 0x1F) << 6 | (p[1] & 0x3F);
        p += 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        if (end - p < 3 || !Continuation(p[1]) || !Continuation(p[2])) return -1;
        codepoint = (char32_t{lead} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
        // An overlong form is not UTF-8 (fromUtf8 replaces it); surrogates are not in the table.
        if (codepoint < 0x800) return -1;
        p += 3;
    } else {
        return -1;  // a stray continuation byte, an invalid lead, or beyond the 3-byte range
    }
    return TTextWidths::Slot(codepoint);
}

}  // namespace

QFont CanvasFont(const QFont& font) {
    QFont canvas = font;
    canvas.setKerning(false);
    canvas.setStyleStrategy(QFont::StyleStrategy(canvas.styleStrategy() | QFont::PreferNoShaping));
    return canvas;
}

int TTextWidths::Slot(char32_t codepoint) {
    if (codepoint < 0x80 || (codepoint >= 0xA0 && codepoint <= 0xFF))
        return static_cast<int>(codepoint);
    const auto found = std::lower_bound(
        kBySlotCodePoint.begin(), kBySlotCodePoint.end(), codepoint,
        [](const std::pair<char32_t, int>& entry, char32_t c) { return entry.first < c; });
    return found != kBySlotCodePoint.end() && found->first == codepoint ? found->second : -1;
}

TTextWidths::TTextWidths(const QFont& font, const QPaintDevice* device) : fmetrics(font, device) {
    const QFontMetricsF exact(font, device);
    QString probe;
    for (int slot = 0; slot < 256; ++slot) {
        // Every code point of the table lies in the basic plane: one QChar.
        const QString character(QChar(static_cast<char16_t>(CodePointOfSlot(slot))));
        const double advance = exact.horizontalAdvance(character) * 64.0;
        const double whole = std::nearbyint(advance);
        const bool additive = slot != kTab && whole == advance && whole >= 0 &&
                              whole < static_cast<double>(kHugeAdvance);
        fadvance[static_cast<std::size_t>(slot)] =
            additive ? static_cast<std::uint64_t>(whole) : kNotAdditive;
        if (additive) probe += character;
        // One tab from the line's start spans one tab stop distance.
        if (slot == kTab && whole == advance && whole > 0 &&
            whole < static_cast<double>(kHugeAdvance))
            ftab64 = static_cast<std::int64_t>(whole);
    }
    // The tables hold only if the layout engine sums advances the same way; a probe of every
    // additive character, forwards and backwards, would show kerning or ligatures.
    fadditive = true;
    QString backwards = probe;
    std::reverse(backwards.begin(), backwards.end());
    const QString controls = QStringLiteral(
        u"\r\nLine\u0001 two\u001b\u007f\r\n th\u00adree\u0081\u008d\u0090\u009d\r\n\u00ad");
    for (const QString& text :
         {probe, backwards, controls, QStringLiteral("The quick brown fox, ffi fl")}) {
        const QByteArray utf8 = text.toUtf8();
        const std::int64_t sum = Advance64(std::string_view(utf8.constData(), utf8.size()));
        if (sum < 0 || Round64(sum) != fmetrics.horizontalAdvance(text)) {
            fadditive = false;
            break;
        }
    }
}

std::int64_t TTextWidths::Advance64(std::string_view text, std::int64_t* upperbound64) const {
    if (upperbound64) *upperbound64 = -1;
    if (!fadditive || text.size() >= kLongText) return -1;
    std::uint64_t sum = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p != end) {
        if (*p < 0x80) {
            sum += fadvance[*p++];
            continue;
        }
        const int slot = NextSlot(p, end);
        if (slot < 0) return -1;
        sum += fadvance[static_cast<std::size_t>(slot)];
    }
    if (sum < kNotAdditive) return static_cast<std::int64_t>(sum);
    // A tab ends at the next tab stop after the point where it starts (allowing for that point's
    // rounding), so it adds less than two tab distances; a pixel more covers the final rounding.
    if (upperbound64 && ftab64 > 0)
        *upperbound64 = static_cast<std::int64_t>(sum % kNotAdditive) +
                        static_cast<std::int64_t>(sum / kNotAdditive) * 2 * ftab64 + 64;
    return -1;
}

int TTextWidths::Width(std::string_view text) const {
    const std::int64_t sum = Advance64(text);
    return sum >= 0 ? Round64(sum) : fmetrics.horizontalAdvance(FromUtf8(text));
}

}  // namespace renderpanel
