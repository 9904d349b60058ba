// The packet table without a capture socket: rows made by the capture loop
// over synthetic UDP datagrams go through the row queue into the model, drained
// every 50 ms as the dialog does, with a view configured as the dialog's.
// Prints "key value" lines; one part per process:
//   ours ROWS [view | model-only]: resident bytes per listed row and the
//     payload bytes per row; with view, scrolling to the bottom, back to the
//     top and selecting a row, painted (medians of 5); then the time of Clear
//     list. model-only: no view over the model (the view's own cost apart).
//   peer: the same for a QStandardItemModel with the same texts (100k rows),
//     its clearing scaled to 1M rows.
//   view-peer: the view operations over 100 rows of ours.
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardItemModel>
#include <QStringList>
#include <QTableView>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/dialog/process_memory.h"
#include "bench/dialog/synthetic_traffic.h"
#include "bench/dialog/view_timing.h"
#include "res/templates.h"
#include "ui/keep_in_view.h"
#include "ui/list_style.h"
#include "ui/packet_model.h"
#include "ui/row_queue.h"

namespace orvanel::bench {
namespace {

constexpr std::size_t kPeerRows = 100'000;
constexpr qulonglong kMaxRows = 20'000'000;

void Print(const char* key, double value) { std::printf("%s %.3f\n", key, value); }

void ShowLikeTheDialog(QTableView& view) {
  SetReportRows(view);
  view.setEditTriggers(QAbstractItemView::NoEditTriggers);
  view.setSelectionMode(QAbstractItemView::SingleSelection);
  view.setWordWrap(false);
  SetPacketColumns(view);
  SetExtendedListStyle(view, res::kPacketListExtendedStyle);
  view.resize(700, 400);
  view.show();
  QCoreApplication::processEvents();
}

// The capture loop on its own thread, the UI thread taking rows every 50 ms.
void Fill(PacketModel& model, RowQueue& queue, std::size_t rows) {
  std::atomic<bool> done{false};
  std::thread producer([&] {
    ListSyntheticUdp(rows, queue);
    done.store(true, std::memory_order_release);
  });
  while (!done.load(std::memory_order_acquire)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    model.TakeRows(queue);
    QCoreApplication::processEvents();
  }
  producer.join();
  queue.PublishPending();
  model.TakeRows(queue);
  QCoreApplication::processEvents();
}

double PayloadBytesPerRow(const PacketStore& store) {
  std::array<char, 16> scratch;
  double bytes = 0;
  for (std::size_t row = 0; row < store.Size(); ++row) bytes += store.ColumnText(row, 6, scratch).size();
  return store.Size() ? bytes / static_cast<double>(store.Size()) : 0;
}

// A plain Qt table filled the way the loop fills ours, appending rows.
class StandardItemTable final : public PacketTable {
 public:
  explicit StandardItemTable(QStandardItemModel& model) : model_(model) {}
  void InsertItem(int index, std::string_view text) override {
    if (index != 0) return;
    Finish();
    for (QStandardItem*& item : pending_) item = new QStandardItem;
    SetItemText(0, 0, text);
  }
  void SetItemText(int item, int column, std::string_view text) override {
    if (item != 0 || pending_.empty() || column < 0 || column >= kPacketColumnCount) return;
    pending_[column]->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  void Finish() {
    if (!pending_.isEmpty() && pending_[0]) model_.appendRow(pending_);
    pending_ = QList<QStandardItem*>(kPacketColumnCount, nullptr);
  }

 private:
  QStandardItemModel& model_;
  QList<QStandardItem*> pending_;
};

double Milliseconds(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

void PeerMemoryAndClear() {
  const std::size_t before = ResidentBytes();
  QStandardItemModel model(0, kPacketColumnCount);
  QTableView view;
  view.setModel(&model);
  ShowLikeTheDialog(view);
  StandardItemTable table(model);
  ListSyntheticUdp(kPeerRows, table);
  table.Finish();
  QCoreApplication::processEvents();
  malloc_trim(0);
  Print("rows", static_cast<double>(model.rowCount()));
  Print("bytes_per_row", static_cast<double>(ResidentBytes() - before) / static_cast<double>(model.rowCount()));
  QElapsedTimer timer;
  timer.start();
  model.removeRows(0, model.rowCount());
  QCoreApplication::processEvents();
  Print("clear_ms_per_1m", Milliseconds(timer) * 1e6 / kPeerRows);
}

enum class Shown { InView, InViewTimed, ModelOnly };

void OursMemory(std::size_t rows, Shown shown) {
  const std::size_t before = ResidentBytes();
  RowQueue queue;
  PacketModel model;
  QTableView view;
  if (shown != Shown::ModelOnly) {
    view.setModel(&model);
    KeepRowsInView(view);
    ShowLikeTheDialog(view);
  }
  Fill(model, queue, rows);
  // The synthetic producer outruns the wire many times over, so the queue
  // held far more rows at its peak than it does in a capture; what it freed
  // is not the rows' cost.
  malloc_trim(0);
  const double listed = static_cast<double>(model.rowCount());
  Print("rows", listed);
  Print("bytes_per_row", static_cast<double>(ResidentBytes() - before) / listed);
  Print("payload_per_row", PayloadBytesPerRow(model.Store()));
  if (shown == Shown::InViewTimed) {
    const ViewTimes times = TimeViewOperations(view);
    Print("view_bottom_ms", times.bottom);
    Print("view_top_ms", times.top);
    Print("view_select_ms", times.select);
  }
  QElapsedTimer timer;
  timer.start();
  model.Clear();
  if (shown != Shown::ModelOnly) RenewReportRows(view);  // as Clear list does
  QCoreApplication::processEvents();
  Print("clear_ms", Milliseconds(timer));
  Print("left_after_clear_per_row", (static_cast<double>(ResidentBytes()) - static_cast<double>(before)) / listed);
}

void PeerView() {
  RowQueue queue;
  PacketModel model;
  QTableView view;
  view.setModel(&model);
  KeepRowsInView(view);
  ShowLikeTheDialog(view);
  Fill(model, queue, 100);
  const ViewTimes times = TimeViewOperations(view);
  Print("view_bottom_ms", times.bottom);
  Print("view_top_ms", times.top);
  Print("view_select_ms", times.select);
}

}  // namespace
}  // namespace orvanel::bench

int Usage() {
  std::fprintf(stderr, "usage: model_bench peer | ours ROWS [view | model-only] | view-peer   (one part per process, so\n"
                       "memory a part frees is not counted by the next)\n");
  return 2;
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using namespace orvanel::bench;
  const QStringList args = app.arguments().mid(1);
  if (args == QStringList{"peer"}) {
    PeerMemoryAndClear();
  } else if (args == QStringList{"view-peer"}) {
    PeerView();
  } else if (args.size() >= 2 && args.size() <= 3 && args[0] == "ours") {
    bool ok = false;
    const qulonglong rows = args[1].toULongLong(&ok);
    if (!ok || rows == 0 || rows > kMaxRows) return Usage();
    const QString mode = args.value(2);
    if (!mode.isEmpty() && mode != "view" && mode != "model-only") return Usage();
    OursMemory(rows, mode == "view" ? Shown::InViewTimed : mode == "model-only" ? Shown::ModelOnly : Shown::InView);
  } else {
    return Usage();
  }
  return 0;
}
