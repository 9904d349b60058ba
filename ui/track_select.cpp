#include "ui/track_select.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHoverEvent>
#include <QItemSelectionModel>
#include <QPainter>
#include <QTimer>

#include "ui/cell_delegate.h"

namespace orvanel {
namespace {

// Follows the pointer over the view's rows; the row under it is looked up at
// each paint, as rows move when new ones arrive on top.
class TrackSelect final : public CellDelegate {
 public:
  explicit TrackSelect(QAbstractItemView& view) : CellDelegate(&view), view_(view) {
    hover_.setSingleShot(true);
    hover_.setInterval(kHoverMilliseconds);
    connect(&hover_, &QTimer::timeout, this, &TrackSelect::SelectHotRow);
    view.viewport()->setAttribute(Qt::WA_Hover);
    view.viewport()->installEventFilter(this);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (index.row() == hotRow_ && !(option.state & QStyle::State_Selected)) {
      QColor hot = option.palette.color(QPalette::Highlight);
      hot.setAlpha(48);
      painter->fillRect(option.rect, hot);
    }
    CellDelegate::paint(painter, option, index);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::HoverEnter:
      case QEvent::HoverMove: Hover(static_cast<QHoverEvent*>(event)->position().toPoint()); break;
      case QEvent::HoverLeave: Leave(); break;
      case QEvent::Paint: hotRow_ = RowUnderPointer(); break;
      default: break;
    }
    return CellDelegate::eventFilter(watched, event);
  }

 private:
  int RowUnderPointer() const { return pointerInside_ ? view_.indexAt(pointer_).row() : -1; }

  void Hover(QPoint position) {
    const int before = RowUnderPointer();
    pointer_ = position;
    pointerInside_ = true;
    const int row = RowUnderPointer();
    if (row == before) return;
    view_.viewport()->update();
    if (row >= 0) {
      hover_.start();
    } else {
      hover_.stop();
    }
  }

  void Leave() {
    pointerInside_ = false;
    hover_.stop();
    view_.viewport()->update();
  }

  void SelectHotRow() {
    const int row = RowUnderPointer();
    if (row < 0 || !view_.selectionModel()) return;
    view_.selectionModel()->setCurrentIndex(view_.model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  QAbstractItemView& view_;
  QTimer hover_;
  QPoint pointer_;
  bool pointerInside_ = false;
  int hotRow_ = -1;
};

}  // namespace

void EnableTrackSelect(QAbstractItemView& view) { view.setItemDelegate(new TrackSelect(view)); }

}  // namespace orvanel
