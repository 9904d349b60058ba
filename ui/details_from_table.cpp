#include "ui/details_from_table.h"

#include <QKeyEvent>

#include "ui/packet_details_window.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

// Takes Enter from the view only when a row is selected.
class EnterOnSelectedRow final : public QObject {
 public:
  explicit EnterOnSelectedRow(PacketListView& view) : QObject(&view), view_(view) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &view_ || event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    const std::optional<std::uint64_t> current = view_.CurrentRow();
    if (!view_.Selected() || !current) return false;
    OpenRowDetails(view_, *current);
    return true;
  }

 private:
  PacketListView& view_;
};

}  // namespace

void OpenRowDetails(PacketListView& view, std::uint64_t ordinal) {
  if (ordinal >= view.Rows()) return;
  const RowSpool::StoredRow stored = view.Packets().StoredRow(ordinal);
  auto* window =
      new PacketDetailsWindow(stored.datagram, stored.captureTimeNs, view.ProgramOf(stored.datagram), view.window());
  window->show();
  window->raise();
  window->activateWindow();
}

void OpenDetailsFromTable(PacketListView& view) {
  QObject::connect(&view, &QAbstractItemView::doubleClicked, &view,
                   [&view](const QModelIndex& index) { OpenRowDetails(view, view.Packets().OrdinalAt(index.row())); });
  view.installEventFilter(new EnterOnSelectedRow(view));
}

}  // namespace orvanel
