// The results panel's colours: its cream background and a darker shade of any colour for its
// rulers, bands and lines.
//
// Ownership: values only. Thread safety: Darker of a QColor is a pure function; Darker of a
// palette role reads the application palette and so belongs to the user-interface thread.
#pragma once

#include <QColor>
#include <QPalette>

// The results panel's background: cream.
inline constexpr QColor cBGCOLOR{255, 251, 240};

// Each component of Color reduced by Percent per cent of itself, the reduction rounded to the
// nearest integer with halves away from zero. Percent is meant to be 0 to 100; values outside
// that range are clamped so that the components stay bytes. The result is opaque.
QColor Darker(const QColor& Color, int Percent);

// Darker of the colour a palette role has in the application palette at this moment (the
// counterpart of a system colour).
QColor Darker(QPalette::ColorRole Role, int Percent);
