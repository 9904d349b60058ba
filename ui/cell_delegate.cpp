#include "ui/cell_delegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <utility>

namespace orvanel {
namespace {

// What the style draws alone: anything but one left-aligned line, left to
// right, and the focus frame, which goes over the text.
bool DrawnByStyle(const QStyleOptionViewItem& cell) {
  return (cell.state & QStyle::State_HasFocus) || (cell.features & QStyleOptionViewItem::WrapText) ||
         cell.direction != Qt::LeftToRight || (cell.displayAlignment & Qt::AlignHorizontal_Mask) != Qt::AlignLeft ||
         cell.text.contains(QChar::LineSeparator);
}

QTextOption LineOption(const QStyleOptionViewItem& cell) {
  QTextOption option;
  option.setWrapMode(QTextOption::ManualWrap);
  option.setTextDirection(cell.direction);
  option.setAlignment(QStyle::visualAlignment(cell.direction, cell.displayAlignment));
  return option;
}

}  // namespace

const CellDelegate::Line& CellDelegate::LineOf(const QString& text, int width, const QStyleOptionViewItem& cell) const {
  if (cell.font != font_) {
    lines_.clear();
    font_ = cell.font;
  }
  Key key{text, width, cell.textElideMode};
  if (const auto found = lines_.constFind(key); found != lines_.cend()) return *found;
  if (lines_.size() >= kCachedTexts) lines_.clear();
  // Laid out and elided as the style does it.
  QTextLayout layout(text, cell.font);
  layout.setTextOption(LineOption(cell));
  layout.beginLayout();
  QTextLine line = layout.createLine();
  line.setLineWidth(width);
  layout.endLayout();
  const bool elided = line.naturalTextWidth() > width;
  QStaticText shown(elided ? QFontMetricsF(cell.font).elidedText(text, cell.textElideMode, width) : text);
  shown.setTextFormat(Qt::PlainText);
  shown.setTextOption(LineOption(cell));
  shown.prepare(QTransform(), cell.font);
  return *lines_.insert(key, Line{shown, layout.boundingRect().size().toSize()});
}

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  if (DrawnByStyle(cell)) return QStyledItemDelegate::paint(painter, option, index);
  // The style draws the background of a cell that has one; the text is ours.
  const QString text = std::exchange(cell.text, QString());
  const QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
  constexpr QStyle::State kMarked = QStyle::State_Selected | QStyle::State_MouseOver;
  constexpr QStyleOptionViewItem::ViewItemFeatures kDrawn =
      QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;
  if ((cell.state & kMarked) || (cell.features & kDrawn) || cell.backgroundBrush.style() != Qt::NoBrush) {
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
  }
  if (text.isEmpty()) return;
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, cell.widget) + 1;
  const QRect area =
      style->subElementRect(QStyle::SE_ItemViewItemText, &cell, cell.widget).adjusted(margin, 0, -margin, 0);
  const Line& line = LineOf(text, area.width(), cell);
  QPalette::ColorGroup group = cell.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
  if (group == QPalette::Normal && !(cell.state & QStyle::State_Active)) group = QPalette::Inactive;
  const QPoint at(area.left(),
                  QStyle::alignedRect(Qt::LayoutDirectionAuto, cell.displayAlignment, line.size, area).top());
  // A text within its cell needs no clip.
  const bool inside = cell.rect.contains(QRect(at, line.size.boundedTo(area.size())));
  const QPen pen = painter->pen();
  if (!inside) {
    painter->save();
    painter->setClipRect(cell.rect, Qt::IntersectClip);
  }
  painter->setPen(
      cell.palette.color(group, cell.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawStaticText(at, line.text);
  if (!inside) painter->restore();
  painter->setPen(pen);
}

}  // namespace orvanel
