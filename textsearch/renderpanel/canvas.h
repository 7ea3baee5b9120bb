// Small drawing and rounding helpers shared by the panel's layouts. User-interface thread only.
#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace renderpanel {

// Round to the nearest integer, halves to even; values that are not numbers or lie beyond the
// int range (a corrupt score) are pinned instead of overflowing.
inline int RoundToInt(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v);
    if (r <= static_cast<double>(INT_MIN / 2)) return INT_MIN / 2;
    if (r >= static_cast<double>(INT_MAX / 2)) return INT_MAX / 2;
    return static_cast<int>(r);
}

inline int ClampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// Text with its top-left corner at (x, y) on one line, over a background of its extent (width
// pixels wide, as metrics.horizontalAdvance(text) measures it), in the painter's font (which
// metrics measure).
inline void TextOut(QPainter& canvas, const QFontMetrics& metrics, int x, std::int64_t y,
                    const QString& text, int width, const QColor& colour,
                    const QColor& background) {
    const int top = ClampToInt(y);
    canvas.fillRect(x, top, width, metrics.height(), background);
    canvas.setPen(colour);
    canvas.drawText(x, top + metrics.ascent(), text);
}

inline void TextOut(QPainter& canvas, const QFontMetrics& metrics, int x, std::int64_t y,
                    const QString& text, const QColor& colour, const QColor& background) {
    TextOut(canvas, metrics, x, y, text, metrics.horizontalAdvance(text), colour, background);
}

}  // namespace renderpanel
