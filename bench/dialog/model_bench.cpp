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
//   straight ROWS [PAYLOAD]: a spool of ROWS rows (PAYLOAD bytes of UDP
//     payload each, default 64) written straight (no capture loop) under the
//     dialog's list: anonymous plus shared memory, the view
//     operations, and a refresh tick taking 1000 new rows (median of 21).
//   filter ROWS: the filter over ROWS spooled rows (a tenth DNS queries, a
//     thousandth with "needle" in the payload) by "udp and dst port 53" and by
//     payload text, rows per second; peer: tcpdump -r on the same rows saved
//     as pcapng. Then find-next across rows that do not match.
//   save: the UI thread while 1.5M rows of 1400 bytes are saved through the
//     dialog's progress window; peers: the same with nothing beside it, and
//     with cp writing the same bytes.
#include <malloc.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QStandardItemModel>
#include <QStringList>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "bench/dialog/process_memory.h"
#include "bench/dialog/synthetic_traffic.h"
#include "bench/dialog/view_timing.h"
#include "capture/packet_row.h"
#include "res/templates.h"
#include "session/list_save.h"
#include "session/row_filter.h"
#include "session/row_search.h"
#include "storage/row_spool.h"
#include "ui/list_style.h"
#include "ui/packet_list_view.h"
#include "ui/packet_model.h"
#include "ui/save_progress.h"

namespace orvanel::bench {
namespace {

constexpr std::size_t kPeerRows = 100'000;
constexpr qulonglong kMaxRows = 20'000'000;
constexpr qulonglong kMaxStraightRows = 600'000'000;
constexpr std::size_t kTickRows = 1000;
constexpr std::size_t kSaveRows = 1'500'000;

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
  const std::shared_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  PacketModel model(spool);
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
  QCoreApplication::processEvents();
  Print("clear_ms", Milliseconds(timer));
  Print("left_after_clear_per_row", (static_cast<double>(ResidentBytes()) - static_cast<double>(before)) / listed);
}

void PeerView() {
  const std::shared_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  PacketModel model(spool);
  PacketListView view;
  view.SetPackets(model);
  ShowLikeTheDialog(view);
  Fill(model, *spool, 100);
  const ViewTimes times = TimeViewOperations(view);
  Print("view_bottom_ms", times.bottom);
  Print("view_top_ms", times.top);
  Print("view_select_ms", times.select);
}

// A UDP datagram to port 53 for every tenth row, to 8000 and up for the
// rest; payload bytes of size, "needle" in every thousandth.
std::vector<std::uint8_t> StraightRow(std::size_t row, std::size_t payload) {
  std::vector<std::uint8_t> bytes(28 + payload, 'x');
  const std::size_t length = bytes.size();
  const std::uint16_t port = row % 10 == 0 ? 53 : static_cast<std::uint16_t>(8000 + row % 1000);
  const std::uint8_t header[28] = {0x45,
                                   0,
                                   std::uint8_t(length >> 8),
                                   std::uint8_t(length),
                                   0,
                                   0,
                                   0x40,
                                   0,
                                   64,
                                   17,
                                   0,
                                   0,
                                   10,
                                   0,
                                   0,
                                   1,
                                   10,
                                   0,
                                   0,
                                   2,
                                   std::uint8_t(row >> 8),
                                   std::uint8_t(row),
                                   std::uint8_t(port >> 8),
                                   std::uint8_t(port),
                                   0,
                                   std::uint8_t(8 + payload),
                                   0,
                                   0};
  std::memcpy(bytes.data(), header, sizeof header);
  if (row % 1000 == 0 && payload >= 6) std::memcpy(bytes.data() + 28 + payload / 2, "needle", 6);
  return bytes;
}

void WriteStraight(RowSpool& spool, std::size_t first, std::size_t rows, std::size_t payload) {
  for (std::size_t row = first; row < first + rows; ++row) {
    const std::vector<std::uint8_t> bytes = StraightRow(row, payload);
    spool.AddRow(ListedRowOf(bytes, static_cast<std::int64_t>(row)));
  }
}

void Straight(std::size_t rows, std::size_t payload) {
  const std::shared_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  WriteStraight(*spool, 0, rows, payload);
  PacketModel model(spool);
  PacketListView view;
  view.SetPackets(model);
  ShowLikeTheDialog(view);
  model.TakeRows();
  QCoreApplication::processEvents();
  Print("rows", static_cast<double>(view.Rows()));
  Print("rows_not_listed", static_cast<double>(spool->RowsNotListed()));
  Print("anon_shared_mib", static_cast<double>(AnonymousAndSharedBytes()) / (1 << 20));
  const ViewTimes times = TimeViewOperations(view);
  Print("view_bottom_ms", times.bottom);
  Print("view_top_ms", times.top);
  Print("view_select_ms", times.select);
  view.ShowNewest();
  std::vector<double> ticks;
  for (int tick = 0; tick < 21; ++tick) {
    WriteStraight(*spool, rows + tick * kTickRows, kTickRows, payload);
    QElapsedTimer timer;
    timer.start();
    model.TakeRows();
    QCoreApplication::processEvents();
    view.viewport()->repaint();
    ticks.push_back(Milliseconds(timer));
  }
  std::nth_element(ticks.begin(), ticks.begin() + 10, ticks.end());
  Print("tick_ms", ticks[10]);
  Print("anon_shared_mib_end", static_cast<double>(AnonymousAndSharedBytes()) / (1 << 20));
}

// Seconds until done() holds.
double SecondsUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

double TcpdumpSeconds(const QString& file, const QString& expression) {
  QProcess tcpdump;
  QElapsedTimer timer;
  timer.start();
  tcpdump.start(QStringLiteral("tcpdump"), {"-r", file, "-w", "/dev/null", expression});
  if (!tcpdump.waitForFinished(600'000) || tcpdump.exitCode() != 0) return 0;
  return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

void Filter(std::size_t rows) {
  const std::shared_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  WriteStraight(*spool, 0, rows, kSyntheticPayload);
  QTemporaryDir directory(QString::fromStdString(spool->Directory()) + QStringLiteral("/bench-XXXXXX"));
  const QString file = directory.filePath(QStringLiteral("rows.pcapng"));
  ListSave pcapng(spool->Read(), nullptr, rows, file.toStdString());
  pcapng.Wait();
  std::string error;
  const std::shared_ptr<const RowMatcher> dns = RowMatcher::ForExpression("udp and dst port 53", error);
  const std::shared_ptr<const RowMatcher> needle = RowMatcher::ForPayload({"needle"});
  for (const auto& [key, matcher] : {std::pair{"expression", dns}, std::pair{"payload", needle}}) {
    const auto filter = RowFilter::Start(*spool, spool->Read(), matcher);
    const double seconds = SecondsUntil([&] { return filter->RowsLookedAt() == rows; });
    Print((std::string("filter_") + key + "_rows_per_s").c_str(), static_cast<double>(rows) / seconds);
    Print((std::string("filter_") + key + "_matches").c_str(), static_cast<double>(filter->Matches()));
  }
  const double tcpdump = TcpdumpSeconds(file, QStringLiteral("udp and dst port 53"));
  Print("tcpdump_rows_per_s", tcpdump > 0 ? static_cast<double>(rows) / tcpdump : 0);
  const std::shared_ptr<const RowMatcher> none = RowMatcher::ForExpression("tcp port 9", error);
  RowSearch search(spool->Read(), nullptr, none, rows - 1, rows, false);
  Print("find_next_no_match_ms", SecondsUntil([&] { return search.Done(); }) * 1e3);
}

// The UI thread while something runs beside it: the longest gap between
// ticks of a 5 ms timer, and the thread's own CPU time and page faults (work
// of its own that would grow with the rows saved).
struct UiThread {
  double seconds = 0, longestGapMs = 0, cpuMs = 0;
  double otherThreadsCpuMs = 0;  // the process's CPU time but the UI thread's
  long minorFaults = 0, majorFaults = 0;
};

UiThread TickWhile(const std::function<bool(double seconds)>& running) {
  rusage before{}, processBefore{};
  getrusage(RUSAGE_THREAD, &before);
  getrusage(RUSAGE_SELF, &processBefore);
  QElapsedTimer clock;
  clock.start();
  UiThread ui;
  qint64 last = 0;
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const double gap = static_cast<double>(clock.nsecsElapsed() - last) / 1e6;
    ui.longestGapMs = std::max(ui.longestGapMs, gap);
    last = clock.nsecsElapsed();
  });
  ticks.start(5);
  while (running(static_cast<double>(clock.nsecsElapsed()) / 1e9)) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // as the event loop does
  }
  ui.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  rusage after{}, processAfter{};
  getrusage(RUSAGE_THREAD, &after);
  getrusage(RUSAGE_SELF, &processAfter);
  const auto ms = [](const rusage& from, const rusage& to) {
    const auto sum = [](const rusage& u) {
      return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    return sum(to) - sum(from);
  };
  ui.cpuMs = ms(before, after);
  ui.otherThreadsCpuMs = ms(processBefore, processAfter) - ui.cpuMs;
  ui.minorFaults = after.ru_minflt - before.ru_minflt;
  ui.majorFaults = after.ru_majflt - before.ru_majflt;
  return ui;
}

void Print(const std::string& prefix, const UiThread& ui) {
  Print((prefix + "_seconds").c_str(), ui.seconds);
  Print((prefix + "_ui_longest_gap_ms").c_str(), ui.longestGapMs);
  Print((prefix + "_ui_cpu_ms").c_str(), ui.cpuMs);
  Print((prefix + "_other_threads_cpu_ms").c_str(), ui.otherThreadsCpuMs);
  Print((prefix + "_ui_minor_faults").c_str(), static_cast<double>(ui.minorFaults));
  Print((prefix + "_ui_major_faults").c_str(), static_cast<double>(ui.majorFaults));
}

// 1.5M rows of 1400 bytes saved through the dialog's progress window, until
// the window has gone. Peers in the same run: the same loop for as long with
// nothing beside it, and while cp writes and syncs a copy of the saved file
// (the same bytes written by another process).
void SaveStall() {
  const std::shared_ptr<RowSpool> spool = RowSpool::CreateInCacheDirectory();
  WriteStraight(*spool, 0, kSaveRows, 1400);
  QTemporaryDir directory(QString::fromStdString(spool->Directory()) + QStringLiteral("/bench-XXXXXX"));
  const QString file = directory.filePath(QStringLiteral("save.pcapng"));
  const QPointer<SaveProgress> progress =
      new SaveProgress(std::make_unique<ListSave>(spool->Read(), nullptr, kSaveRows, file.toStdString()), nullptr);
  const UiThread save = TickWhile([&](double) { return !progress.isNull(); });
  Print("save", save);
  Print("idle", TickWhile([&](double seconds) { return seconds < save.seconds; }));
  QProcess cp;
  cp.start(QStringLiteral("sh"), {"-c", "cp \"$0\" \"$0.copy\" && sync \"$0.copy\"", file});
  cp.waitForStarted();
  Print("cp", TickWhile([&](double) { return cp.state() != QProcess::NotRunning; }));
}

}  // namespace
}  // namespace orvanel::bench

int Usage() {
  std::fprintf(stderr,
               "usage: model_bench peer | ours ROWS [view | model-only] | view-peer |\n"
               "       straight ROWS [PAYLOAD] |\n"
               "       filter ROWS | save   (one part per process, so\n"
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
  } else if ((args.size() == 2 && args[0] == "filter") ||
             (args.size() >= 2 && args.size() <= 3 && args[0] == "straight")) {
    bool ok = false;
    const qulonglong rows = args[1].toULongLong(&ok);
    if (!ok || rows < kTickRows || rows > kMaxStraightRows) return Usage();
    const qulonglong payload = args.size() == 3 ? args[2].toULongLong(&ok) : kSyntheticPayload;
    if (!ok || payload > 1472) return Usage();
    if (args[0] == "straight") {
      Straight(rows, payload);
    } else {
      Filter(rows);
    }
  } else if (args == QStringList{"save"}) {
    SaveStall();
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
