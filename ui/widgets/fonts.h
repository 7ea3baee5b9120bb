// The face the windows' layouts are drawn in, at the sizes they give in pixels.
// User-interface thread only.
#pragma once

#include <QFont>

// Tahoma at pixelSize (the application loads it at start; without it Qt's default sans face).
QFont TahomaFont(int pixelSize, bool bold = false);
