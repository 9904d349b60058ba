// Dialog units to pixels, computed from the dialog font as Windows does.
#pragma once

#include <QFont>
#include <QRect>

namespace orvanel {

struct BaseUnits {
  int x;  // average character width
  int y;  // character height
};

// The dialog font: SimSun or the closest Chinese serif font at 12 px.
QFont DialogFont();

// base X = (width of "A".."Z" + "a".."z" / 26 + 1) / 2, base Y = font height.
BaseUnits DialogBaseUnits(const QFont& font);

// number * numerator / denominator, rounded half away from zero; -1 when
// the denominator is zero or the result does not fit an int.
int MulDiv(int number, int numerator, int denominator);

int DialogUnitsToPixelsX(int x, BaseUnits units);
int DialogUnitsToPixelsY(int y, BaseUnits units);
QRect DialogUnitsToPixels(int x, int y, int w, int h, BaseUnits units);

}  // namespace orvanel
