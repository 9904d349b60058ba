// Opening a capture file in the dialog (offscreen) against orvanel-cli
// --read FILE --quiet on the same file, in turns in the same run: the time
// until the dialog's counters are final against the cli's whole run, and the
// UI thread's longest event during the read. Once counting only (no box for
// a protocol ticked, as the cli without --show), once with every packet
// listed (--show src=udp). Prints "key value" lines, medians of ROUNDS:
//   open_bench CLI_BINARY [COUNT [ROUNDS]]   (default 2000000 3)
#include <pcap/pcap.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/dialog/event_timing.h"
#include "bench/dialog/synthetic_traffic.h"
#include "res/resource.h"
#include "ui/capture_dlg.h"

namespace orvanel::bench {
namespace {

void Print(const std::string& key, double value) { std::printf("%s %.3f\n", key.c_str(), value); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[(values.size() - 1) / 2];
}

// count synthetic 64-byte-payload UDP datagrams as a pcap file of raw IPv4.
bool WriteCapture(const std::string& path, std::size_t count) {
  pcap_t* dead = pcap_open_dead(DLT_IPV4, 65535);
  pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
  if (!dumper) return false;
  SyntheticUdpSource source(count);
  ReceiveBuffer buffer{};
  for (std::size_t i = 0;; ++i) {
    const ReceiveResult result = source.Receive(buffer);
    if (result.status != ReceiveStatus::Packet) break;
    pcap_pkthdr header{};
    header.ts.tv_sec = 1700000000 + static_cast<time_t>(i / 1'000'000);
    header.ts.tv_usec = static_cast<suseconds_t>(i % 1'000'000);
    header.caplen = header.len = static_cast<bpf_u_int32>(result.length);
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, buffer.data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
  return true;
}

struct OpenFigures {
  double ms;
  double longestEventMs;
};

OpenFigures OpenInDialog(CCaptureDlg& dialog, EventTiming& timing, const QString& file) {
  timing.Reset();
  QElapsedTimer clock;
  clock.start();
  dialog.OpenCaptureFiles({file});
  while (dialog.IsReading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  return {ms, timing.Take().longestEventMs};
}

double RunCli(const QString& cli, const QStringList& arguments) {
  QElapsedTimer clock;
  clock.start();
  if (QProcess::execute(cli, arguments) != 0) return -1;
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace
}  // namespace orvanel::bench

int main(int argc, char** argv) {
  using namespace orvanel;
  using namespace orvanel::bench;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const long count = argc >= 3 ? std::atol(argv[2]) : 2'000'000;
  const int rounds = argc >= 4 ? std::atoi(argv[3]) : 3;
  if (argc < 2 || argc > 4 || count < 1 || count > 20'000'000 || rounds < 1 || rounds > 20) {
    std::fprintf(stderr, "usage: open_bench CLI_BINARY [COUNT [ROUNDS]]\n");
    return 2;
  }
  TimingApplication app(argc, argv);
  const QString cli = QString::fromLocal8Bit(argv[1]);
  const QTemporaryDir directory;
  const QString file = directory.filePath(QStringLiteral("bench.pcap"));
  if (!WriteCapture(file.toStdString(), static_cast<std::size_t>(count))) return 1;

  CCaptureDlg dialog;
  dialog.show();
  // Filters that every packet of the file matches, as the cli's empty ones do.
  static_cast<QLineEdit*>(dialog.GetDlgItem(res::IDC_SRC_IP))->setText(QString());
  static_cast<QLineEdit*>(dialog.GetDlgItem(res::IDC_DST_IP))->setText(QString());
  auto* listUdp = static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SRC_UDP));
  const struct {
    const char* name;
    bool listed;
    QStringList cliArguments;
  } cases[] = {{"open_count", false, {"--quiet", "--read", file}},
               {"open_list", true, {"--quiet", "--show", "src=udp", "--read", file}}};
  RunCli(cli, cases[0].cliArguments);  // the file into the page cache
  for (const auto& run : cases) {
    listUdp->setChecked(run.listed);
    std::vector<double> dialogMs, cliMs, longest;
    for (int round = 0; round < rounds; ++round) {
      const double cliTime = RunCli(cli, run.cliArguments);
      if (cliTime < 0) return 1;
      cliMs.push_back(cliTime);
      const OpenFigures figures = OpenInDialog(dialog, app.Timing(), file);
      dialogMs.push_back(figures.ms);
      longest.push_back(figures.longestEventMs);
      QMetaObject::invokeMethod(dialog.GetDlgItem(res::IDC_BTN_CLEAR), "click");  // the next round starts empty
    }
    const std::string name = run.name;
    Print(name + "_dialog_ms", Median(dialogMs));
    Print(name + "_cli_ms", Median(cliMs));
    Print(name + "_longest_event_ms", *std::max_element(longest.begin(), longest.end()));
  }
  return 0;
}
