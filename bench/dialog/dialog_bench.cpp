// The whole dialog (offscreen) capturing on 127.0.0.1 with the UDP boxes of
// the Source and Destination groups ticked, in a network namespace of its own
// (run as root under unshare -n, loopback up). Prints "key value" lines:
//   latency: a single datagram, from its send until the counters and the
//     table show it; peer: until a plain socket has received it.
//   flood: rounds of a bounded loopback flood by orvanel_flood after Clear
//     list; the generator's rate, the time until every row is listed after it
//     ends, kernel drops, and the UI thread's longest event and longest gap
//     between counter refreshes.
//   ticks and view: with few rows (peer) and with millions, the refresh and
//     row-taking ticks and the painting while a trickle of datagrams arrives,
//     then scrolling and selecting.
//   dialog_bytes_per_row: resident memory the listed rows cost the dialog.
// With "conversations RATE SECONDS": a flood of 64-byte datagrams, nearly each
// one a new conversation, with the conversation window open; datagrams sent
// and counted, the packets no conversation holds (0), the window's refresh
// on the UI thread with the table full, and the anonymous plus shared
// resident memory at the end.
// With "overload PAYLOAD RATE COUNT [save]" instead, one flood of COUNT
// PAYLOAD-byte datagrams at RATE a second (0: as fast as the generator goes),
// with the save box ticked if asked: datagrams sent and counted, kernel
// drops, the longest gap between refresh ticks, the anonymous plus shared
// resident memory at the end, and the UI thread's CPU time per refresh tick.
//   graph: the rate graph open during one flood, the UI thread's time per
//     refresh tick and per window paint; and its redraw and paint over five
//     minutes of readings, the most it holds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/dialog/event_timing.h"
#include "bench/dialog/process_memory.h"
#include "bench/dialog/view_timing.h"
#include "res/resource.h"
#include "ui/capture_dlg.h"
#include "ui/conversation_window.h"
#include "ui/packet_list_view.h"
#include "ui/rate_graph_window.h"
#include "ui/rate_history.h"
#include "ui/windows_look_style.h"

namespace orvanel::bench {
namespace {

constexpr int kLatencySamples = 9;
constexpr int kFloodPort = 40000;
constexpr int kTrickleMs = 3000;
constexpr int kTrickleIntervalMs = 20;
constexpr int kMaxFloods = 6;
constexpr int kCatchUpMs = 3000;

void Print(const char* key, double value) { std::printf("%s %.3f\n", key, value); }

double Milliseconds(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Processes events until done() or timeoutMs; returns done(). It sleeps
// between events as the dialog's own loop does, so the UI thread's CPU time
// stays the dialog's.
bool Pump(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  QObject wake;
  QTimer::singleShot(timeoutMs, &wake, [] {});
  while (!done()) {
    if (timer.elapsed() >= timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// A loopback UDP socket that sends single datagrams to itself.
class Loopback {
 public:
  Loopback() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address_;
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) == 0 &&
          getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length) == 0;
  }
  ~Loopback() {
    if (fd_ >= 0) close(fd_);
  }
  [[nodiscard]] bool Ok() const { return ok_; }
  bool Send() { return sendto(fd_, "x", 1, 0, reinterpret_cast<sockaddr*>(&address_), sizeof address_) == 1; }
  bool Receive() {
    char byte;
    return recv(fd_, &byte, 1, 0) == 1;
  }

 private:
  int fd_;
  sockaddr_in address_{};
  bool ok_ = false;
};

class Bench {
 public:
  Bench(CCaptureDlg& dialog, EventTiming& timing, QString flood)
      : dialog_(dialog), timing_(timing), flood_(std::move(flood)) {}

  bool Start() {
    dialog_.show();
    auto* combo = static_cast<QComboBox*>(dialog_.GetDlgItem(res::IDC_CB_DEVICE));
    const int index = combo->findText(QStringLiteral("127.0.0.1"));
    if (index < 0) return false;
    combo->setCurrentIndex(index);
    static_cast<QCheckBox*>(dialog_.GetDlgItem(res::IDC_CHK_SRC_UDP))->setChecked(true);
    static_cast<QCheckBox*>(dialog_.GetDlgItem(res::IDC_CHK_DST_UDP))->setChecked(true);
    PressStart();
    return dialog_.IsCapturing();
  }

  // Start, or Stop while capturing.
  void PressStart() {
    static_cast<QPushButton*>(dialog_.GetDlgItem(res::IDC_BTN_START))->click();
    QCoreApplication::processEvents();
  }

  [[nodiscard]] long Rows() const { return static_cast<long>(Table().Rows()); }
  [[nodiscard]] long Counted() const {
    return static_cast<QLineEdit*>(dialog_.GetDlgItem(res::IDC_ALL_UDP))->text().toLong();
  }
  [[nodiscard]] PacketListView& Table() const {
    return *static_cast<PacketListView*>(dialog_.GetDlgItem(res::IDC_LIST_PACKETS));
  }

  bool Latency() {
    Loopback socket;
    if (!socket.Ok()) return false;
    std::vector<double> ours, peer;
    for (int sample = 0; sample < kLatencySamples; ++sample) {
      // Idle between samples, for a different time each, so the sends fall
      // at different points of the dialog's timer periods.
      Pump([] { return false; }, 200 + 37 * sample);
      const long rows = Rows();
      const long counted = Counted();
      QElapsedTimer timer;
      timer.start();
      if (!socket.Send() || !socket.Receive()) return false;
      peer.push_back(Milliseconds(timer));
      if (!Pump([&] { return Rows() == rows + 1 && Counted() == counted + 1; }, 2000)) return false;
      ours.push_back(Milliseconds(timer));
    }
    Print("latency_max_ms", *std::max_element(ours.begin(), ours.end()));
    Print("latency_median_ms", Median(ours));
    Print("latency_peer_max_ms", *std::max_element(peer.begin(), peer.end()));
    return true;
  }

  // The dialog's ticks and painting while datagrams trickle in, then the view
  // operations; keys start with prefix.
  bool Responsiveness(const char* prefix) {
    Loopback socket;
    if (!socket.Ok()) return false;
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&socket] { socket.Send(); });
    trickle.start(kTrickleIntervalMs);
    timing_.Reset();
    Pump([] { return false; }, kTrickleMs);
    trickle.stop();
    const EventTiming::Figures ticks = timing_.Take();
    const std::string key(prefix);
    Print((key + "_refresh_max_ms").c_str(), ticks.refreshMaxMs);
    Print((key + "_refresh_median_ms").c_str(), ticks.refreshMedianMs);
    Print((key + "_rows_tick_max_ms").c_str(), ticks.rowsMaxMs);
    Print((key + "_paint_max_ms").c_str(), ticks.paintMaxMs);
    Print((key + "_paint_median_ms").c_str(), ticks.paintMedianMs);
    const ViewTimes view = TimeViewOperations(Table());
    Print((key + "_view_rows").c_str(), Rows());
    Print((key + "_view_bottom_ms").c_str(), view.bottom);
    Print((key + "_view_top_ms").c_str(), view.top);
    Print((key + "_view_select_ms").c_str(), view.select);
    return true;
  }

  // Runs the generator for count datagrams while the dialog keeps working;
  // returns its rate, 0 if it failed.
  double Flood(long count, long payload = 64, long rate = 0, long* sent = nullptr, bool spread = false) {
    QProcess generator;
    QStringList arguments = {QString::number(count), QString::number(kFloodPort), QString::number(payload),
                             QString::number(rate)};
    if (spread) arguments << QStringLiteral("spread");
    generator.start(flood_, arguments);
    if (!generator.waitForStarted(5000)) return 0;
    Pump([&] { return generator.state() == QProcess::NotRunning; }, 200'000);  // the generator stops at 180 s
    if (generator.exitStatus() != QProcess::NormalExit) return 0;
    double measured = 0;
    for (const QByteArray& line : generator.readAllStandardOutput().split('\n')) {
      if (line.startsWith("rate ")) measured = line.mid(5).toDouble();
      if (line.startsWith("sent ") && sent) *sent = line.split(' ').value(1).toLong();
    }
    return measured;
  }

  // Until the counters stop moving after a flood, and one refresh more.
  void WaitUntilCounted() {
    long last = -1;
    Pump(
        [&] {
          const long counted = Counted();
          const bool settled = counted == last;
          last = counted;
          return settled && counted > 0;
        },
        kCatchUpMs);
    Pump([] { return false; }, 300);  // one more refresh: nothing still coming
  }

  // One flood at a given size and rate, the counters followed until they settle.
  bool Overload(long payload, long rate, long count, bool save) {
    static_cast<QCheckBox*>(dialog_.GetDlgItem(res::IDC_CHK_DST_UDP))->setChecked(false);
    static_cast<QCheckBox*>(dialog_.GetDlgItem(res::IDC_CHK_SAVE_LAST))->setChecked(save);
    static_cast<QPushButton*>(dialog_.GetDlgItem(res::IDC_BTN_CLEAR))->click();
    QCoreApplication::processEvents();
    timing_.Reset();
    const std::uint64_t dropsBefore = dialog_.KernelDrops();
    const CpuSplit cpuBefore = CpuTimes();
    long sent = 0;
    const double measured = Flood(count, payload, rate, &sent);
    if (measured == 0) return false;
    WaitUntilCounted();
    const CpuSplit cpuAfter = CpuTimes();
    const EventTiming::Figures ticks = timing_.Take();
    const auto error = static_cast<QLineEdit*>(dialog_.GetDlgItem(res::IDC_ERROR));
    Print("overload_sent", static_cast<double>(sent));
    Print("overload_rate", measured);
    Print("overload_counted", static_cast<double>(Counted()));
    Print("overload_share", static_cast<double>(Counted()) / static_cast<double>(sent));
    Print("overload_rows", Rows());
    Print("overload_kernel_drops", static_cast<double>(dialog_.KernelDrops() - dropsBefore));
    Print("overload_error", error->text().toDouble());
    Print("overload_refresh_gap_max_ms", ticks.refreshGapMaxMs);
    Print("overload_refresh_max_ms", ticks.refreshMaxMs);
    Print("overload_longest_event_ms", ticks.longestEventMs);
    Print("overload_anon_shared_mib", static_cast<double>(AnonymousAndSharedBytes()) / (1 << 20));
    Print("overload_cpu_ns_per_datagram_capture", (cpuAfter.otherThreadsMs - cpuBefore.otherThreadsMs) * 1e6 / sent);
    Print("overload_cpu_ns_per_datagram_ui", (cpuAfter.mainThreadMs - cpuBefore.mainThreadMs) * 1e6 / sent);
    // A capture through the socket helper counts the helper's time too.
    Print("overload_cpu_ns_per_datagram_process",
          (cpuAfter.mainThreadMs + cpuAfter.otherThreadsMs + cpuAfter.runningChildrenMs - cpuBefore.mainThreadMs -
           cpuBefore.otherThreadsMs - cpuBefore.runningChildrenMs) *
              1e6 / sent);
    Print("overload_cpu_ns_per_datagram_helper",
          (cpuAfter.runningChildrenMs - cpuBefore.runningChildrenMs) * 1e6 / sent);
    std::printf("overload_error_tooltip %s\n", error->toolTip().toUtf8().constData());
    return true;
  }

  // A flood in which nearly every datagram is a new conversation, the
  // conversation window open throughout; then refreshes of that window with
  // a row selected, the table full.
  bool ConversationFlood(long rate, long seconds) {
    QAction* entry = nullptr;
    for (QAction* action : dialog_.GetSystemMenu()->actions()) {
      if (action->text() == QStringLiteral("会话统计(&C)...")) entry = action;
    }
    if (!entry) return false;
    entry->trigger();
    auto* window = dialog_.findChild<ConversationWindow*>();
    if (!window) return false;
    static_cast<QPushButton*>(dialog_.GetDlgItem(res::IDC_BTN_CLEAR))->click();
    QCoreApplication::processEvents();
    const std::uint64_t dropsBefore = dialog_.KernelDrops();
    long sent = 0;
    if (Flood(rate * seconds, 64, rate, &sent, true) == 0) return false;
    WaitUntilCounted();

    window->View().selectRow(3);
    std::vector<double> refreshes, refreshCpu;
    for (int round = 0; round < 5; ++round) {
      Pump([&] { return !window->Ranking(); }, 60'000);
      timing_.Reset();
      window->Refresh();
      Pump([&] { return !window->Ranking(); }, 60'000);
      Pump([] { return false; }, 50);  // the paint that follows
      const EventTiming::Figures figures = timing_.Take();
      refreshes.push_back(figures.longestEventMs);
      refreshCpu.push_back(figures.longestEventCpuMs);
    }
    PressStart();  // stopped: the counts hold still
    const ConversationTable& table = dialog_.Conversations();
    std::uint64_t inConversations = table.Read(kFoldedConversations) ? table.Read(kFoldedConversations)->Packets() : 0;
    table.ForEach([&](ConversationId, const Conversation& c) { inConversations += c.Packets(); });
    std::uint64_t counted = 0;
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      counted += static_cast<std::uint64_t>(
          static_cast<QLineEdit*>(dialog_.GetDlgItem(std::array{res::IDC_ALL_TCP, res::IDC_ALL_UDP, res::IDC_ALL_ICMP,
                                                                res::IDC_ALL_OTHER}[protocol]))
              ->text()
              .toLong());
    }
    Print("conversations_sent", static_cast<double>(sent));
    Print("conversations_counted", static_cast<double>(counted));
    Print("conversations_kernel_drops", static_cast<double>(dialog_.KernelDrops() - dropsBefore));
    Print("conversations_held", table.Held());
    Print("conversations_folded", static_cast<double>(table.FoldedCount()));
    Print("conversations_uncounted", static_cast<double>(counted) - static_cast<double>(inConversations));
    Print("conversations_refresh_max_ms", *std::max_element(refreshes.begin(), refreshes.end()));
    Print("conversations_refresh_median_ms", Median(refreshes));
    Print("conversations_refresh_cpu_max_ms", *std::max_element(refreshCpu.begin(), refreshCpu.end()));
    Print("conversations_anon_shared_mib", static_cast<double>(AnonymousAndSharedBytes()) / (1 << 20));
    PressStart();
    return dialog_.IsCapturing();
  }

  // Rounds of Clear list and one flood; rates are medians, the rest worst cases.
  bool LineRate(long count, int rounds) {
    std::vector<double> rates, listedAfter, countedAfter, gaps, rows;
    EventTiming::Figures longest;
    CpuSplit cpu;
    double drops = 0;
    for (int round = 0; round < rounds; ++round) {
      if (round > 0) PressStart();
      if (!dialog_.IsCapturing()) return false;
      static_cast<QPushButton*>(dialog_.GetDlgItem(res::IDC_BTN_CLEAR))->click();
      QCoreApplication::processEvents();
      timing_.Reset();
      const std::uint64_t dropsBefore = dialog_.KernelDrops();
      const CpuSplit cpuBefore = CpuTimes();
      const double rate = Flood(count);
      if (rate == 0) return false;
      // When the kernel dropped some, the table stops short of count: the
      // time it last grew tells when the listing caught up with the capture.
      QElapsedTimer afterEnd;
      afterEnd.start();
      long lastRows = Rows();
      double lastGrowth = 0;
      const bool all = Pump(
          [&] {
            if (Rows() != lastRows) lastRows = Rows(), lastGrowth = Milliseconds(afterEnd);
            return Rows() >= count;
          },
          kCatchUpMs);
      // Stop leaves the counters as the last refresh showed them: wait for it.
      const bool counted = all && Pump([&] { return Counted() >= count; }, kCatchUpMs);
      countedAfter.push_back(counted ? Milliseconds(afterEnd) : 1e9);
      const CpuSplit cpuAfter = CpuTimes();
      // Per round: a capture thread ends at Stop, so its time is taken before.
      cpu.mainThreadMs += cpuAfter.mainThreadMs - cpuBefore.mainThreadMs;
      cpu.otherThreadsMs += cpuAfter.otherThreadsMs - cpuBefore.otherThreadsMs;
      cpu.childrenMs += cpuAfter.childrenMs - cpuBefore.childrenMs;
      cpu.otherThreadsSystemMs += cpuAfter.otherThreadsSystemMs - cpuBefore.otherThreadsSystemMs;
      cpu.machineSoftirqMs += cpuAfter.machineSoftirqMs - cpuBefore.machineSoftirqMs;
      const EventTiming::Figures ticks = timing_.Take();
      PressStart();  // Stop: the drops are known once the capture ends
      if (dialog_.IsCapturing()) return false;
      const auto roundDrops = static_cast<long>(dialog_.KernelDrops() - dropsBefore);
      const bool caughtUp = Rows() + roundDrops >= count;
      listedAfter.push_back(caughtUp ? lastGrowth : 1e9);
      rates.push_back(rate);
      rows.push_back(Rows());
      drops += static_cast<double>(roundDrops);
      if (ticks.longestEventMs > longest.longestEventMs) longest = ticks;
      gaps.push_back(ticks.refreshGapMaxMs);
    }
    const auto max = [](const std::vector<double>& values) { return *std::max_element(values.begin(), values.end()); };
    Print("flood_rounds", rounds);
    Print("flood_rate", Median(rates));
    Print("flood_rows_min", *std::min_element(rows.begin(), rows.end()));
    // Until the table held every datagram the capture received.
    Print("flood_listed_after_end_max_ms", max(listedAfter));
    Print("flood_counted_after_end_max_ms", max(countedAfter));
    Print("flood_kernel_drops", drops);
    Print("flood_longest_event_ms", longest.longestEventMs);
    Print("flood_longest_event_cpu_ms", longest.longestEventCpuMs);
    std::printf("flood_longest_event_kind %s\n", longest.longestEventKind.constData());
    Print("flood_refresh_gap_max_ms", max(gaps));
    Print("flood_cpu_ns_per_datagram_generator", cpu.childrenMs * 1e6 / (static_cast<double>(count) * rounds));
    Print("flood_cpu_ns_per_datagram_capture", cpu.otherThreadsMs * 1e6 / (static_cast<double>(count) * rounds));
    Print("flood_cpu_ns_per_datagram_ui", cpu.mainThreadMs * 1e6 / (static_cast<double>(count) * rounds));
    // The capture thread's kernel time, and the softirq work of the whole
    // machine meanwhile: on loopback the sender's thread runs most of it.
    Print("flood_cpu_ns_per_datagram_capture_system",
          cpu.otherThreadsSystemMs * 1e6 / (static_cast<double>(count) * rounds));
    Print("flood_softirq_ns_per_datagram_machine", cpu.machineSoftirqMs * 1e6 / (static_cast<double>(count) * rounds));
    return true;
  }

  // One flood with the rate graph open; the graph is closed again after.
  bool GraphDuringFlood(long count) {
    QAction* entry = nullptr;
    for (QAction* action : dialog_.GetSystemMenu()->actions()) {
      if (action->text() == QStringLiteral("流量图(&G)...")) entry = action;
    }
    if (!entry) return false;
    entry->trigger();
    PressStart();
    if (!dialog_.IsCapturing()) return false;
    timing_.Reset();
    if (Flood(count) == 0) return false;
    const EventTiming::Figures ticks = timing_.Take();
    PressStart();
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->windowTitle() == QStringLiteral("流量图")) window->close();
    }
    Print("graph_flood_refresh_max_ms", ticks.refreshMaxMs);
    Print("graph_flood_refresh_median_ms", ticks.refreshMedianMs);
    Print("graph_flood_paint_max_ms", ticks.paintMaxMs);
    Print("graph_flood_paint_median_ms", ticks.paintMedianMs);
    return !dialog_.IsCapturing();
  }

  // Floods more until the table holds rows rows (or kMaxFloods floods).
  bool FillTo(long rows) {
    PressStart();
    if (!dialog_.IsCapturing()) return false;
    for (int flood = 0; flood < kMaxFloods && Rows() < rows; ++flood) {
      const long wanted = rows - Rows();
      if (Flood(wanted) == 0) return false;
      Pump([&] { return Rows() >= rows; }, 2000);
    }
    return Rows() >= rows;
  }

 private:
  CCaptureDlg& dialog_;
  EventTiming& timing_;
  QString flood_;
};

// Five minutes of readings of a busy capture, the most the graph holds.
void GraphFullHistory() {
  RateHistory history;
  CounterSnapshot counts{};
  const RateHistory::Clock::time_point start = RateHistory::Clock::now();
  for (int reading = 0; reading <= static_cast<int>(RateHistory::kCapacity); ++reading) {
    for (int group = 0; group < kTrafficGroupCount; ++group) {
      for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
        const int packets = 20'000 + (reading * 7919 + group * 31 + protocol) % 5'000;
        counts.packetTotals[group][protocol] += packets;
        counts.byteTotals[group][protocol] += static_cast<std::uint64_t>(packets) * 700;
      }
    }
    history.Record(start + reading * std::chrono::milliseconds(100), counts);
  }
  RateGraphWindow window(history, nullptr);
  window.show();
  QCoreApplication::processEvents();
  std::vector<double> times;
  for (int round = 0; round < 21; ++round) {
    QElapsedTimer timer;
    timer.start();
    window.Redraw();
    window.repaint();
    times.push_back(Milliseconds(timer));
  }
  Print("graph_full_redraw_paint_median_ms", Median(times));
  Print("graph_full_redraw_paint_max_ms", *std::max_element(times.begin(), times.end()));
}

int Usage() {
  std::fprintf(stderr,
               "usage: dialog_bench FLOOD_BINARY [COUNT [ROWS [ROUNDS]]]\n"
               "       dialog_bench FLOOD_BINARY overload PAYLOAD RATE COUNT [save]\n"
               "       dialog_bench FLOOD_BINARY conversations RATE SECONDS\n"
               "(root, in a network namespace of its own)\n");
  return 2;
}

int RunConversations(char** argv) {
  const long rate = std::atol(argv[3]);
  const long seconds = std::atol(argv[4]);
  if (rate < 1 || seconds < 1 || rate * seconds > 100'000'000) return Usage();
  int argc = 1;
  TimingApplication app(argc, argv);
  app.setStyle(new WindowsLookStyle);
  orvanel::CCaptureDlg dialog;
  Bench bench(dialog, app.Timing(), QString::fromLocal8Bit(argv[1]));
  if (!bench.Start() || !bench.ConversationFlood(rate, seconds)) {
    std::fprintf(stderr, "dialog_bench: conversation flood failed\n");
    return 1;
  }
  bench.PressStart();
  return 0;
}

int RunOverload(int argc, char** argv) {
  const long payload = std::atol(argv[3]);
  const long rate = std::atol(argv[4]);
  const long count = std::atol(argv[5]);
  const bool save = argc == 7 && std::string(argv[6]) == "save";
  if (payload < 0 || payload > 1472 || rate < 0 || count < 1 || count > 100'000'000 || (argc == 7 && !save)) {
    return Usage();
  }
  TimingApplication app(argc, argv);
  app.setStyle(new WindowsLookStyle);  // the program's look
  orvanel::CCaptureDlg dialog;
  Bench bench(dialog, app.Timing(), QString::fromLocal8Bit(argv[1]));
  if (!bench.Start() || !bench.Overload(payload, rate, count, save)) {
    std::fprintf(stderr, "dialog_bench: overload failed\n");
    return 1;
  }
  bench.PressStart();
  return 0;
}

}  // namespace
}  // namespace orvanel::bench

int main(int argc, char** argv) {
  using namespace orvanel::bench;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if ((argc == 6 || argc == 7) && std::string(argv[2]) == "overload") return RunOverload(argc, argv);
  if (argc == 5 && std::string(argv[2]) == "conversations") return RunConversations(argv);
  if (argc < 2 || argc > 5) return Usage();
  const long count = argc >= 3 ? std::atol(argv[2]) : 2'000'000;
  const long rows = argc >= 4 ? std::atol(argv[3]) : 5'000'000;
  const int rounds = argc >= 5 ? std::atoi(argv[4]) : 3;
  if (count < 1 || count > 10'000'000 || rows < count || rows > 20'000'000 || rounds < 1 || rounds > 20) {
    return Usage();
  }
  TimingApplication app(argc, argv);
  app.setStyle(new orvanel::WindowsLookStyle);  // the program's look
  const std::size_t before = ResidentBytes();
  orvanel::CCaptureDlg dialog;
  Bench bench(dialog, app.Timing(), QString::fromLocal8Bit(argv[1]));
  const auto fail = [](const char* step) {
    std::fprintf(stderr, "dialog_bench: %s failed\n", step);
    return 1;
  };
  if (!bench.Start()) return fail("start");
  if (!bench.Latency()) return fail("latency");
  if (!bench.Responsiveness("few")) return fail("responsiveness with few rows");
  if (!bench.LineRate(count, rounds)) return fail("line rate");
  if (!bench.GraphDuringFlood(count)) return fail("graph during a flood");
  GraphFullHistory();
  if (!bench.FillTo(rows)) return fail("filling");
  if (!bench.Responsiveness("many")) return fail("responsiveness with many rows");
  Print("dialog_bytes_per_row", static_cast<double>(ResidentBytes() - before) / bench.Rows());
  Print("dialog_anon_shared_mib", static_cast<double>(AnonymousAndSharedBytes()) / (1 << 20));
  bench.PressStart();
  return 0;
}
