// TScorePosition: the panel's score-position layout. A per-cent ruler runs across the top, 100%
// at the left and 10% near the right edge, with a line down from each label; every hit is placed
// horizontally by its score under it; a band in the ruler's shade covers rows scrolled up under
// the labels, which are then drawn again in bold.
//
// A value for one panel width and horizontal view offset; user-interface thread only (drawing).
#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>

class QPainter;

namespace renderpanel {

class TScorePosition {
public:
    // W: the panel's width; vx: the horizontal view offset.
    TScorePosition(int W, int vx)
        : fW(W), fvx(vx), fpixelspercent(static_cast<float>(W) / 100.0f) {}

    // How far left of the right edge a score places its hit: W / 100 * score in per cent.
    int Offset(float Proximity) const;
    // Left edge of a hit's row (its icon, or its caption less 4 pixels).
    int RowX(float Proximity) const { return fW + 2 - Offset(Proximity) - fvx; }
    // The horizontal view offset that brings the best hit's row to x = 2 (automatic scroll).
    static int AutoScrollX(int W, float best);

    // The ruler: labels 100% to 10% at y = 2 in the regular font, each with a line down from the
    // middle of its number to the bottom (the 100% line 3 pixels wide).
    void DrawRuler(QPainter& canvas, const QFont& regular, const QFontMetrics& metrics, int H,
                   const QColor& fontcolour, const QColor& shade) const;
    // The band across the top, bandheight high, and the labels again in bold on it.
    void DrawBand(QPainter& canvas, int bandheight, const QFont& bold, const QFontMetrics& metrics,
                  const QColor& fontcolour, const QColor& shade) const;

private:
    int RulerX(int tens) const;

    int fW;
    int fvx;
    float fpixelspercent;  // a float, as the placement has always been computed
};

}  // namespace renderpanel
