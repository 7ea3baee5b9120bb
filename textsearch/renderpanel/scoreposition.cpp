// Placement by score and the ruler. Every position is rounded exactly as the first version of
// the panel rounded it (a float of pixels per per cent, multiplied in double, halves to even), so
// that hits stay on the pixel columns they have always had.
#include "textsearch/renderpanel/scoreposition.h"

#include <QPainter>

#include "textsearch/renderpanel/canvas.h"

namespace renderpanel {

int TScorePosition::Offset(float Proximity) const {
    return RoundToInt(static_cast<double>(fpixelspercent) * static_cast<double>(Proximity) * 100.0);
}

int TScorePosition::AutoScrollX(int W, float best) {
    return W - 2 - TScorePosition(W, 0).Offset(best);
}

int TScorePosition::RulerX(int tens) const {
    return fW + 2 -
           RoundToInt(static_cast<double>(tens) * static_cast<double>(fpixelspercent) * 10.0) - fvx;
}

void TScorePosition::DrawRuler(QPainter& canvas, const QFont& regular, const QFontMetrics& metrics,
                               int H, const QColor& fontcolour, const QColor& shade) const {
    canvas.setFont(regular);
    for (int i = 10; i >= 1; --i) {
        const int x = RulerX(i);
        TextOut(canvas, metrics, x, 2, QString::number(i) + QStringLiteral("0%"), fontcolour,
                shade);
        const int xmod = metrics.horizontalAdvance(QString::number(i) + QLatin1Char('0')) / 2;
        canvas.setPen(QPen(shade, i == 10 ? 3 : 1, Qt::SolidLine, Qt::FlatCap));
        canvas.drawLine(x + xmod, 2 + metrics.height(), x + xmod, H);
    }
}

void TScorePosition::DrawBand(QPainter& canvas, int bandheight, const QFont& bold,
                              const QFontMetrics& metrics, const QColor& fontcolour,
                              const QColor& shade) const {
    canvas.fillRect(0, 0, fW, bandheight, shade);
    canvas.setFont(bold);
    for (int i = 10; i >= 1; --i)
        TextOut(canvas, metrics, RulerX(i), 2, QString::number(i) + QStringLiteral("0%"),
                fontcolour, shade);
}

}  // namespace renderpanel
