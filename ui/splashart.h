// The pictures of the splash window, drawn by the program itself so that no artwork has to ship
// beside it: the background with the large round emblem bearing "?!?" and the small logo.
//
// Each call paints a new pixmap that the caller owns. QPixmap: user-interface thread only.
#pragma once

#include <QPixmap>
#include <QPoint>

// The background, 569 x 500. The splash shows it at (-160, -96), so only its lower right part is
// seen; the emblem is placed to sit in that part, beside the program's name.
QPixmap SplashBackground();
// Where the emblem's centre lies in the background picture (tests, and the layout's arithmetic).
inline constexpr QPoint kSplashEmblemCentre(425, 306);
// The radius of the emblem's ring.
inline constexpr int kSplashEmblemRadius = 100;

// The small logo, 100 x 48.
QPixmap SplashLogo();
