// Text widths for the results panel without laying every text out. The panel measures the widest
// caption and excerpt of a pass, which can be hundreds of thousands of texts; QFontMetrics lays
// each one out, while a sum of per-character advances costs a table look-up per byte.
//
// Texts are UTF-8. The advance table covers the Windows-1252 repertoire (ASCII, Latin-1 and the
// code page's typographic characters), which is what nearly every stored text consists of; a text
// with any other code point, or with bytes that are not UTF-8, is measured whole by QFontMetrics,
// which keeps its width exact where shaping or font fallback matters.
//
// Thread safety: TTextWidths is immutable after construction; used on the user-interface thread.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <array>
#include <cstdint>
#include <string_view>

class QPaintDevice;

namespace renderpanel {

// A hit's text (UTF-8) as a QString; invalid bytes become replacement characters.
inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The font the panel draws and measures with for a given widget font: the same face and size
// with kerning and optional shaping (ligatures) switched off, so that the width of a text is the
// sum of the widths of its characters and can be computed without laying every text out. Scripts
// that need shaping to be legible are still shaped.
QFont CanvasFont(const QFont& font);

// Exact text widths for one font on one paint device.
// Width(text) equals QFontMetrics(font, device).horizontalAdvance(FromUtf8(text)).
// A tab's advance depends on where it starts, so for a text with tabs Advance64 gives up (with
// an upper bound on request) and Width measures the whole text with QFontMetrics; so it does for
// a text outside the table's repertoire, without a bound. A font for which the per-character
// sums do not reproduce QFontMetrics on probe texts is measured with QFontMetrics throughout.
class TTextWidths {
public:
    // REQUIRES: font is a CanvasFont. The device only supplies its resolution.
    TTextWidths(const QFont& font, const QPaintDevice* device);

    // Sum of the advances of the characters of text in 1/64 pixel, or -1 when the sum would not
    // be its width (a tab, a character outside the table, an unsuitable font). Then
    // *upperbound64, if given, receives a bound on the width in 1/64 pixel, or -1 when there is
    // none.
    std::int64_t Advance64(std::string_view text, std::int64_t* upperbound64 = nullptr) const;

    // A width in 1/64 pixel rounded to whole pixels the way the layout engine rounds it.
    static int Round64(std::int64_t advance64) { return static_cast<int>((advance64 + 32) >> 6); }

    // Width in pixels of text.
    int Width(std::string_view text) const;

    const QFontMetrics& Metrics() const { return fmetrics; }
    bool Additive() const { return fadditive; }

    // The place of a code point in the table (its Windows-1252 byte), or -1 outside it.
    static int Slot(char32_t codepoint);

private:
    static constexpr std::uint64_t kNotAdditive = std::uint64_t{1} << 40;

    QFontMetrics fmetrics;
    // Advance of every slot in 1/64 pixel; kNotAdditive for the tab, so that one table look-up a
    // character both sums the widths and counts the tabs.
    std::array<std::uint64_t, 256> fadvance{};
    std::int64_t ftab64 = 0;  // tab stop distance in 1/64 pixel; 0 if unknown
    bool fadditive = false;
};

}  // namespace renderpanel
