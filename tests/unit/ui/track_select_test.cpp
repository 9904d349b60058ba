#include <gtest/gtest.h>

#include <QApplication>
#include <QHoverEvent>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include "res/templates.h"
#include "ui/list_style.h"
#include "ui/track_select.h"

namespace orvanel {
namespace {

QColor Background(QTableView& view, int row) {
  const QRect cell = view.visualRect(view.model()->index(row, 1));
  return view.viewport()->grab().toImage().pixelColor(cell.right() - 2, cell.center().y());
}

TEST(TrackSelect, RowUnderThePointerIsHighlightedThenSelectedAfterTheHoverTime) {
  QStandardItemModel model(5, 2);
  QTableView view;
  view.setModel(&model);
  SetExtendedListStyle(view, res::kPacketListExtendedStyle);
  view.resize(300, 200);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QColor plain = Background(view, 2);

  const QPoint pointer = view.visualRect(model.index(2, 0)).center();
  QHoverEvent hover(QEvent::HoverMove, pointer, view.viewport()->mapToGlobal(pointer), QPointF(-1, -1));
  QApplication::sendEvent(view.viewport(), &hover);
  EXPECT_NE(Background(view, 2), plain);
  EXPECT_EQ(Background(view, 1), plain);
  EXPECT_FALSE(view.selectionModel()->hasSelection());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view.selectionModel()->isRowSelected(2, {}); }, kHoverMilliseconds * 5));

  QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(-1, -1), pointer);
  QApplication::sendEvent(view.viewport(), &leave);
  view.selectionModel()->clear();
  EXPECT_EQ(Background(view, 2), plain);
}

}  // namespace
}  // namespace orvanel
