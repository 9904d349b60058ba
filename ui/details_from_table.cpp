#include "details_from_table.h"

#include <QKeyEvent>
#include <QTableView>

#include "packet_details_window.h"
#include "packet_model.h"

namespace orvanel {
namespace {

void OpenDetails(QTableView& view, const PacketModel& model, int row) {
  if (row < 0 || row >= model.rowCount()) return;
  const RowSpool::StoredRow stored = model.ViewRow(row);
  auto* window = new PacketDetailsWindow(stored.datagram, stored.captureTimeNs, view.window());
  window->show();
  window->raise();
  window->activateWindow();
}

// Takes Enter from the view only when a row is selected.
class EnterOnSelectedRow final : public QObject {
 public:
  EnterOnSelectedRow(QTableView& view, const PacketModel& model) : QObject(&view), view_(view), model_(model) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &view_ || event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    const QModelIndexList selected = view_.selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return false;
    OpenDetails(view_, model_, selected.front().row());
    return true;
  }

 private:
  QTableView& view_;
  const PacketModel& model_;
};

}  // namespace

void OpenDetailsFromTable(QTableView& view, const PacketModel& model) {
  QObject::connect(&view, &QAbstractItemView::doubleClicked, &view,
                   [&view, &model](const QModelIndex& index) { OpenDetails(view, model, index.row()); });
  view.installEventFilter(new EnterOnSelectedRow(view, model));
}

}  // namespace orvanel
