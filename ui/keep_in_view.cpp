#include "keep_in_view.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <memory>

namespace orvanel {

void KeepRowsInView(QTableView& view) {
  QAbstractItemModel* model = view.model();
  auto offset = std::make_shared<int>(0);  // scroll value before the insert
  QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, &view,
                   [&view, offset](const QModelIndex&, int, int) { *offset = view.verticalScrollBar()->value(); });
  QObject::connect(model, &QAbstractItemModel::rowsInserted, &view,
                   [&view, offset](const QModelIndex&, int first, int last) {
                     if (*offset == 0 || first != 0) return;
                     QScrollBar& bar = *view.verticalScrollBar();
                     const int rows = last - first + 1;
                     const int step = view.verticalScrollMode() == QAbstractItemView::ScrollPerItem
                                          ? 1
                                          : view.verticalHeader()->defaultSectionSize();
                     // The view updates the range only later; widen it now so the value holds.
                     bar.setMaximum(bar.maximum() + rows * step);
                     bar.setValue(*offset + rows * step);
                   });
}

}  // namespace orvanel
