#include "ui/windows_look_style.h"

#include <qdrawutil.h>
#include <QPaintEngine>
#include <QPainter>
#include <QStyleOption>

#include <algorithm>

namespace orvanel {
namespace {

constexpr int kCaptionIndent = 6;  // from the frame's left edge to the caption's gap
constexpr int kCaptionGap = 2;     // either side of the caption

void DrawGroupBox(const QStyleOptionGroupBox& box, QPainter& painter, const QStyle& style) {
  const QFontMetrics& metrics = box.fontMetrics;
  const int lineY = metrics.height() / 2;
  const QRect frame = box.rect.adjusted(0, lineY, -1, -1);
  // Only the frame's lines and the caption are drawn. A counter field that
  // changes repaints the box beneath it, but only the empty inside.
  QRect inside = frame.adjusted(2, 2, -2, -2);
  inside.setTop(std::max(inside.top(), box.rect.top() + metrics.height()));
  const QRegion painted = painter.paintEngine() ? painter.paintEngine()->systemClip() : QRegion();
  if (!painted.isEmpty() && !painted.intersects(painter.deviceTransform().map(QRegion(box.rect) - inside))) return;
  const QString caption =
      metrics.elidedText(box.text, Qt::ElideRight, std::max(0, box.rect.width() - 2 * (kCaptionIndent + kCaptionGap)));
  const QRect captionGap(box.rect.left() + kCaptionIndent, box.rect.top(),
                         caption.isEmpty() ? 0 : metrics.horizontalAdvance(caption) + 2 * kCaptionGap,
                         metrics.height());
  painter.save();
  // An etched frame, left open where the caption crosses its top line.
  QRegion clip(box.rect);
  clip -= captionGap;
  painter.setClipRegion(clip);
  qDrawShadeRect(&painter, frame, box.palette, true, 1);
  painter.restore();
  if (!caption.isEmpty()) {
    style.drawItemText(&painter, captionGap.adjusted(kCaptionGap, 0, -kCaptionGap, 0),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, box.palette,
                       box.state & QStyle::State_Enabled, caption, QPalette::WindowText);
  }
}

}  // namespace

int WindowsLookStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                QStyleHintReturn* returnData) const {
  switch (hint) {
    case SH_ComboBox_Popup:
    case SH_DialogButtonBox_ButtonsHaveIcons: return 0;
    default: return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
}

void WindowsLookStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                          const QWidget* widget) const {
  const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
  if (control == CC_GroupBox && box && !(box->subControls & SC_GroupBoxCheckBox)) {
    DrawGroupBox(*box, *painter, *this);
    return;
  }
  QProxyStyle::drawComplexControl(control, option, painter, widget);
}

void WindowsLookStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const {
  if (element == CE_HeaderEmptyArea && (option->state & State_Horizontal)) {
    QStyleOptionHeader section;
    section.rect = option->rect;
    section.state = option->state;
    section.direction = option->direction;
    section.palette = option->palette;
    section.fontMetrics = option->fontMetrics;
    section.orientation = Qt::Horizontal;
    section.position = QStyleOptionHeader::End;
    QProxyStyle::drawControl(CE_HeaderSection, &section, painter, widget);
    return;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

}  // namespace orvanel
