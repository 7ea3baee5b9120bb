// Darker works on whole numbers: component × Percent is exact, and adding half the divisor before
// dividing gives the rounding with halves away from zero that the colour rules ask for, without
// any floating point.
#include "textsearch/renderpanel/colors.h"

#include <QGuiApplication>
#include <algorithm>

namespace {

// Component c reduced by c × Percent / 100, the product rounded half away from zero.
int DarkerComponent(int c, int Percent) {
    const int product = c * Percent;  // never negative: c and Percent are clamped first
    return c - (product + 50) / 100;
}

}  // namespace

QColor Darker(const QColor& Color, int Percent) {
    const int percent = std::clamp(Percent, 0, 100);
    const QColor rgb = Color.toRgb();
    return QColor(DarkerComponent(rgb.red(), percent), DarkerComponent(rgb.green(), percent),
                  DarkerComponent(rgb.blue(), percent));
}

QColor Darker(QPalette::ColorRole Role, int Percent) {
    return Darker(QGuiApplication::palette().color(Role), Percent);
}
