// Conversion of dialog-template units to pixels. Every window of the player is built at its
// template's positions through this one helper, so all of them scale alike.
#pragma once

#include <QRect>
#include <QSize>

namespace DialogUnits {

// Base units of the dialog font (the system's shell dialog font at 8 points): the average
// character width and the character height in pixels.
inline constexpr int kBaseUnitX = 6;
inline constexpr int kBaseUnitY = 13;

// Horizontal and vertical dialog units to pixels, rounded to the nearest pixel.
int ToPixelsX(int nUnits);
int ToPixelsY(int nUnits);

// A template rectangle (x, y, width, height in dialog units) in pixels.
QRect ToPixels(int x, int y, int cx, int cy);
QSize ToPixels(QSize sizeUnits);

}  // namespace DialogUnits
