#include "ui/row_menu.h"

#include <QContextMenuEvent>
#include <QMenu>

#include "session/cell_filter.h"
#include "ui/details_from_table.h"
#include "ui/find_window.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

class RowMenu final : public QObject {
 public:
  RowMenu(PacketListView& view, std::function<FindWindow&()> finder)
      : QObject(&view), view_(view), finder_(std::move(finder)) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::ContextMenu) return false;
    const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
    const QModelIndex index = view_.indexAt(menuEvent->pos());
    if (!index.isValid()) return false;  // the dialog's menu
    Show(view_.Packets().OrdinalAt(index.row()), index.column(), menuEvent->globalPos());
    return true;
  }

 private:
  void Show(std::uint64_t ordinal, int column, const QPoint& where) {
    if (!view_.IsSelected(ordinal)) view_.SelectOrdinal(ordinal);
    const RowSpool::StoredRow stored = view_.Packets().StoredRow(ordinal);
    const QString filter =
        QString::fromStdString(FilterForCell(ListedRowOf(stored.datagram, stored.captureTimeNs), column));
    // Shown without waiting: the list goes on taking rows meanwhile.
    auto* menu = new QMenu(&view_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(QStringLiteral("复制(&C)"), &view_, [this] { view_.CopySelected(); });
    copy->setShortcut(QKeySequence::Copy);
    menu->addAction(QStringLiteral("数据包详情(&D)"), &view_, [this, ordinal] { OpenRowDetails(view_, ordinal); });
    QAction* apply = menu->addAction(QStringLiteral("作为过滤器应用(&A)"), &view_,
                                     [this, filter] { finder_().ShowOnlyMatching(filter); });
    apply->setEnabled(!filter.isEmpty());
    if (!filter.isEmpty()) apply->setStatusTip(filter);
    QAction* find = menu->addAction(QStringLiteral("查找(&F)..."), &view_, [this] { finder_().Open(); });
    find->setShortcut(QKeySequence::Find);
    menu->popup(where);
  }

  PacketListView& view_;
  std::function<FindWindow&()> finder_;
};

}  // namespace

void AddRowMenu(PacketListView& view, std::function<FindWindow&()> finder) {
  view.viewport()->installEventFilter(new RowMenu(view, std::move(finder)));
}

}  // namespace orvanel
