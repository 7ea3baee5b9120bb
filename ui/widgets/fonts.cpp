#include "ui/widgets/fonts.h"

QFont TahomaFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}
