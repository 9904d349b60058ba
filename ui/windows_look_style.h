// The application's style: the platform's own, with the Windows look where
// it differs in what the dialog shows.
#pragma once

#include <QProxyStyle>

namespace orvanel {

class WindowsLookStyle final : public QProxyStyle {
  Q_OBJECT

 public:
  WindowsLookStyle() = default;

  // A combo box's list opens below it; dialog buttons carry no icons.
  int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                QStyleHintReturn* returnData = nullptr) const override;
  // A group box's caption sits on its frame line.
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget = nullptr) const override;
  // The header strip goes on past the last column as an empty section.
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
};

}  // namespace orvanel
