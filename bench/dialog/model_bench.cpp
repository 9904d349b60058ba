// The packet table without a capture socket: rows made by the capture loop
// over synthetic UDP datagrams go into the row spool, taken into the model
// every 50 ms as the dialog does, with a view configured as the dialog's.
// Prints "key value" lines; one part per process:
//   ours ROWS [view | model-only]: resident bytes per listed row, and the
//     anonymous plus shared resident bytes in all (the spool's file pages
//     apart); with view, scrolling to the bottom, back to the top and
//     selecting a row, painted (medians of 5); then the time of Clear list.
//     model-only: no view over the model (the view's own cost apart).
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
#include "capture/packet_row.h"
#include "res/templates.h"
#include "storage/row_spool.h"
#include "ui/list_style.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"

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
void Fill(PacketModel& model, RowSpool& spool, std::size_t rows) {
  std::atomic<bool> done{false};
  std::thread producer([&] {
    ListSyntheticUdp(rows, spool);
    done.store(true, std::memory_order_release);
  });
  while (!done.load(std::memory_order_acquire)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    model.TakeRows();
    QCoreApplication::processEvents();
  }
  producer.join();
  model.TakeRows();
  QCoreApplication::processEvents();
}

// A plain Qt table filled the way the loop fills ours, appending rows.
class StandardItemTable final : public PacketTable {
 public:
  explicit StandardItemTable(QStandardItemModel& model) : model_(model) {}
  void AddRow(const ListedRow& row) override {
    PacketRow texts;
    BuildPacketRow(row, texts);
    QList<QStandardItem*> items;
    for (const std::string_view text : texts.columns) {
      items.append(new QStandardItem(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
    }
    model_.appendRow(items);
  }

 private:
  QStandardItemModel& model_;
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
  const std::unique_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  PacketModel model(*spool);
  PacketListView view;
  if (shown != Shown::ModelOnly) {
    view.SetPackets(model);
    ShowLikeTheDialog(view);
  }
  Fill(model, *spool, rows);
  const double listed = static_cast<double>(model.ShownRows());
  Print("rows", listed);
  Print("bytes_per_row", static_cast<double>(ResidentBytes() - before) / listed);
  Print("anon_shared_mib", static_cast<double>(AnonymousAndSharedBytes()) / (1 << 20));
  if (shown == Shown::InViewTimed) {
    const ViewTimes times = TimeViewOperations(view);
    Print("view_bottom_ms", times.bottom);
    Print("view_top_ms", times.top);
    Print("view_select_ms", times.select);
  }
  QElapsedTimer timer;
  timer.start();
  model.Clear();
  spool->FinishClear();  // no capture runs: the files are cut at once
  QCoreApplication::processEvents();
  Print("clear_ms", Milliseconds(timer));
  Print("left_after_clear_per_row", (static_cast<double>(ResidentBytes()) - static_cast<double>(before)) / listed);
}

void PeerView() {
  const std::unique_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  PacketModel model(*spool);
  PacketListView view;
  view.SetPackets(model);
  ShowLikeTheDialog(view);
  Fill(model, *spool, 100);
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
