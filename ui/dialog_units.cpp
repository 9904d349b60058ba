#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace orvanel {

QFont DialogFont(std::string_view face, int points) {
  constexpr int kPixelsPerInch = 96;
  constexpr int kPointsPerInch = 72;
  QFont font;
  font.setFamilies(QStringList{QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size())),
                               QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("AR PL UMing CN"),
                               QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(MulDiv(points, kPixelsPerInch, kPointsPerInch));
  return font;
}

BaseUnits DialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  const std::int64_t half = std::abs(static_cast<std::int64_t>(denominator)) / 2;
  const bool negative = (product < 0) != (denominator < 0);
  const std::int64_t magnitude = (std::abs(product) + half) / std::abs(static_cast<std::int64_t>(denominator));
  const std::int64_t result = negative ? -magnitude : magnitude;
  if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(result);
}

int DialogUnitsToPixelsX(int x, BaseUnits units) { return MulDiv(x, units.x, 4); }
int DialogUnitsToPixelsY(int y, BaseUnits units) { return MulDiv(y, units.y, 8); }

QRect DialogUnitsToPixels(int x, int y, int w, int h, BaseUnits units) {
  return {DialogUnitsToPixelsX(x, units), DialogUnitsToPixelsY(y, units), DialogUnitsToPixelsX(w, units),
          DialogUnitsToPixelsY(h, units)};
}

}  // namespace orvanel
