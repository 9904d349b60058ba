// Builds a dialog's controls from its template.
#pragma once

#include <QString>
#include <string_view>
#include <vector>

#include "res/templates.h"
#include "ui/dialog_units.h"

class QDialog;
class QWidget;

namespace orvanel {

QString ToQString(std::string_view utf8);

struct BuiltControl {
  const res::ControlTemplate* tmpl;
  QWidget* widget;
};

// The controls in template order; the dialog owns the widgets.
class DialogControls {
 public:
  void Add(const res::ControlTemplate& tmpl, QWidget* widget) { controls_.push_back({&tmpl, widget}); }
  // The control with that id; null when none has it (IDC_STATIC has many).
  [[nodiscard]] QWidget* Item(int id) const;

 private:
  std::vector<BuiltControl> controls_;
};

// Sets the dialog font, the caption and the fixed client size, creates every
// control at its pixel place (from the font's base units) with its styles,
// and chains the tab order in template order.
DialogControls BuildDialog(QDialog& dialog, const res::DialogTemplate& tmpl);

}  // namespace orvanel
