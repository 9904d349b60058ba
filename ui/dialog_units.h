// Dialog units to pixels: a horizontal unit is a quarter of the dialog font's
// average character width, a vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>
#include <string_view>

namespace orvanel {

struct BaseUnits {
  int x;  // average character width
  int y;  // character height
};

// The template's font, or the closest Chinese serif font, at its size on a
// 96-dpi screen (9 points are 12 px); the screen's scaling comes on top.
QFont DialogFont(std::string_view face, int points);

// base X = (width of "A".."Z" + "a".."z" / 26 + 1) / 2, base Y = font height.
BaseUnits DialogBaseUnits(const QFont& font);

// number * numerator / denominator, rounded half away from zero; -1 when
// the denominator is zero or the result does not fit an int.
int MulDiv(int number, int numerator, int denominator);

int DialogUnitsToPixelsX(int x, BaseUnits units);
int DialogUnitsToPixelsY(int y, BaseUnits units);
QRect DialogUnitsToPixels(int x, int y, int w, int h, BaseUnits units);

}  // namespace orvanel
