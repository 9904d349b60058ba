#include "ui/dialog_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "ui/list_style.h"
#include "ui/packet_list_view.h"
#include "ui/window_icon.h"

namespace orvanel {
namespace {

constexpr int kIconPixels = 32;

bool Has(const res::ControlTemplate& tmpl, std::uint32_t style) { return (tmpl.style & style) != 0; }

QWidget* MakeButton(const res::ControlTemplate& tmpl, QWidget* parent) {
  auto* button = new QPushButton(ToQString(tmpl.caption), parent);
  // Enter presses a button only while it has the focus, or the default one.
  button->setAutoDefault(false);
  button->setDefault(Has(tmpl, res::kDefPushButton));
  return button;
}

QWidget* MakeLabel(const res::ControlTemplate& tmpl, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(ToQString(tmpl.caption));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QWidget* MakeIcon(QWidget* parent) {
  auto* icon = new QLabel(parent);
  icon->setPixmap(ProgramIcon().pixmap(kIconPixels, kIconPixels));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return icon;
}

QWidget* MakeEdit(const res::ControlTemplate& tmpl, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setFrame(Has(tmpl, res::kBorder));
  edit->setAlignment(Has(tmpl, res::kCenter) ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
  edit->setReadOnly(Has(tmpl, res::kReadOnly));
  return edit;
}

QWidget* MakeComboBox(QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(false);
  combo->setInsertPolicy(QComboBox::InsertAtBottom);
  return combo;
}

QWidget* MakeListView(QWidget* parent) {
  auto* view = new PacketListView(parent);
  view->setFrameShape(QFrame::StyledPanel);
  SetReportRows(*view);
  return view;
}

QWidget* MakeControl(const res::ControlTemplate& tmpl, QWidget* parent) {
  switch (tmpl.kind) {
    case res::ControlKind::PushButton: return MakeButton(tmpl, parent);
    case res::ControlKind::GroupBox: return new QGroupBox(ToQString(tmpl.caption), parent);
    case res::ControlKind::Label: return MakeLabel(tmpl, parent);
    case res::ControlKind::Icon: return MakeIcon(parent);
    case res::ControlKind::Edit: return MakeEdit(tmpl, parent);
    case res::ControlKind::CheckBox: return new QCheckBox(ToQString(tmpl.caption), parent);
    case res::ControlKind::ComboBox: return MakeComboBox(parent);
    case res::ControlKind::ListView: return MakeListView(parent);
  }
  return nullptr;
}

// A combo box's template height is the height of its open list; closed it is one line.
void PlaceComboBox(QComboBox& combo, QRect rect) {
  const int closedHeight = combo.sizeHint().height();
  const int itemHeight = std::max(1, combo.fontMetrics().height() + 2);
  combo.setMaxVisibleItems(std::max(1, (rect.height() - closedHeight) / itemHeight));
  combo.setGeometry(rect.x(), rect.y(), rect.width(), closedHeight);
}

}  // namespace

QString ToQString(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

QWidget* DialogControls::Item(int id) const {
  for (const BuiltControl& control : controls_) {
    if (control.tmpl->id == id) return control.widget;
  }
  return nullptr;
}

DialogControls BuildDialog(QDialog& dialog, const res::DialogTemplate& tmpl) {
  const QFont font = DialogFont(tmpl.fontFace, tmpl.fontPoints);
  const BaseUnits units = DialogBaseUnits(font);
  dialog.setFont(font);
  dialog.setWindowTitle(ToQString(tmpl.caption));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (tmpl.frameStyle & res::kSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (tmpl.frameStyle & res::kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  dialog.setWindowFlags(flags);
  dialog.setFixedSize(DialogUnitsToPixelsX(tmpl.w, units), DialogUnitsToPixelsY(tmpl.h, units));

  DialogControls controls;
  QWidget* previousTabStop = nullptr;
  for (const res::ControlTemplate& control : tmpl.controls) {
    QWidget* widget = MakeControl(control, &dialog);
    const QRect rect = DialogUnitsToPixels(control.x, control.y, control.w, control.h, units);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      PlaceComboBox(*combo, rect);
    } else {
      widget->setGeometry(rect);
    }
    widget->setEnabled(!Has(control, res::kDisabled));
    widget->setVisible(Has(control, res::kVisible));
    if (Has(control, res::kTabStop)) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop) QWidget::setTabOrder(previousTabStop, widget);
      previousTabStop = widget;
    } else {
      widget->setFocusPolicy(Qt::NoFocus);
    }
    controls.Add(control, widget);
  }
  return controls;
}

}  // namespace orvanel
