// The splash pictures are painted with QPainter on white images: the emblem is a pale halo, a
// disc shaded from near-white to lilac inside a ring in the status text's magenta, and "?!?" in
// bold Tahoma across it; the logo is a small magenta badge with a white "?!" disc and the name
// "Tromsel". Everything is antialiased and sized in pixels, as the splash's layout is.
#include "ui/splashart.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "ui/widgets/fonts.h"

namespace {

const QColor kMagenta(179, 0, 179);

// The largest bold Tahoma up to pixelSize in which text fits width: faces differ in width.
QFont FittingFont(const QString& text, int pixelSize, qreal width) {
    QFont font = TahomaFont(pixelSize, true);
    while (pixelSize > 6 && QFontMetricsF(font).horizontalAdvance(text) > width) {
        font = TahomaFont(--pixelSize, true);
    }
    return font;
}

QImage WhiteImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

}  // namespace

QPixmap SplashBackground() {
    QImage image = WhiteImage(569, 500);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QPointF c = kSplashEmblemCentre;
    constexpr double kHalo = 135;
    constexpr double kDisc = kSplashEmblemRadius;

    // A soft halo makes the emblem large without crowding the name above it.
    QRadialGradient halo(c, kHalo);
    halo.setColorAt(0.0, QColor(246, 228, 248));
    halo.setColorAt(0.75, QColor(250, 240, 251));
    halo.setColorAt(1.0, Qt::white);
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(c, kHalo, kHalo);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(236, 205, 240), 1.5));
    p.drawEllipse(c, kHalo - 12, kHalo - 12);

    // The disc, lit from its upper left.
    QRadialGradient disc(c + QPointF(-35, -40), kDisc * 1.6);
    disc.setColorAt(0.0, QColor(255, 250, 255));
    disc.setColorAt(1.0, QColor(225, 170, 232));
    p.setBrush(disc);
    p.setPen(QPen(kMagenta, 5));
    p.drawEllipse(c, kDisc, kDisc);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(179, 0, 179, 110), 1.5));
    p.drawEllipse(c, kDisc - 11, kDisc - 11);

    // "?!?" across the disc, with a faint shadow so that it stands off the shading.
    const QRectF textBox(c.x() - kDisc, c.y() - kDisc, 2 * kDisc, 2 * kDisc);
    p.setFont(TahomaFont(92, true));
    p.setPen(QColor(90, 0, 90, 70));
    p.drawText(textBox.translated(3, 4), Qt::AlignCenter, QStringLiteral("?!?"));
    p.setPen(kMagenta);
    p.drawText(textBox, Qt::AlignCenter, QStringLiteral("?!?"));
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap SplashLogo() {
    QImage image = WhiteImage(100, 48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QPainterPath badge;
    badge.addRoundedRect(QRectF(0.5, 0.5, 99, 47), 9, 9);
    QLinearGradient shade(0, 0, 0, 48);
    shade.setColorAt(0.0, QColor(205, 60, 205));
    shade.setColorAt(1.0, QColor(140, 0, 140));
    p.fillPath(badge, shade);
    p.setPen(QPen(QColor(110, 0, 110), 1));
    p.drawPath(badge);

    // A small copy of the emblem on the left of the badge.
    const QPointF c(23, 24);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 16, 16);
    p.setPen(QPen(QColor(179, 0, 179), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 13, 13);
    p.setFont(TahomaFont(17, true));
    p.drawText(QRectF(c.x() - 16, c.y() - 16, 32, 32), Qt::AlignCenter, QStringLiteral("?!"));

    p.setPen(Qt::white);
    const QRectF nameBox(43, 6, 54, 20);
    p.setFont(FittingFont(QStringLiteral("Tromsel"), 15, nameBox.width()));
    p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tromsel"));
    p.setPen(QColor(250, 225, 250));
    p.setFont(TahomaFont(11, false));
    p.drawText(QRectF(44, 25, 55, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("SOHO v1.0"));
    p.end();
    return QPixmap::fromImage(image);
}
