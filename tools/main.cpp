// orvanel-cli: the headless twin of the dialog, reading capture files or
// capturing live.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_loop.h"
#include "session/pcap_file_source.h"
#include "storage/last_packet.h"
#include "tools/cli_options.h"
#include "tools/cli_rows.h"
#include "tools/live_capture.h"
#include "tools/metrics_file.h"
#include "tools/metrics_text.h"
#include "tools/row_printer.h"

namespace {

constexpr int kBadInput = 2;

int Fail(const std::string& message) {
  std::fprintf(stderr, "orvanel-cli: %s\n", message.c_str());
  return kBadInput;
}

// Why the --save-last directory cannot take the files; empty when it can.
std::string SaveDirectoryProblem(const std::string& directory) {
  std::error_code error;
  const auto status = std::filesystem::status(directory, error);
  if (!std::filesystem::exists(status)) return "--save-last '" + directory + "': no such directory";
  if (!std::filesystem::is_directory(status)) return "--save-last '" + directory + "': not a directory";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvanel;
  const cli::ParseResult parsed = cli::ParseCliOptions(std::vector<std::string_view>(argv + 1, argv + argc));
  if (!parsed.options) return Fail(parsed.error + " (see --help)");
  const cli::CliOptions& options = *parsed.options;
  if (options.help) {
    std::fwrite(cli::UsageText().data(), 1, cli::UsageText().size(), stdout);
    return 0;
  }

  if (options.listAddresses) return cli::PrintLocalAddresses();
  if (!options.saveDirectory.empty()) {
    if (const std::string problem = SaveDirectoryProblem(options.saveDirectory); !problem.empty()) return Fail(problem);
  }

  AtomicCaptureOptions boxes;
  for (int option = 0; option < kCaptureOptionCount; ++option) {
    boxes.Set(static_cast<CaptureOption>(option), options.boxes[option]);
  }
  cli::CliRows rows(options.quiet ? nullptr : stdout, options.format);
  if (!options.writeFile.empty()) {
    if (const auto error = rows.WriteTo(options.writeFile)) return Fail(*error);
  }
  if (options.address) return cli::RunLiveCapture(options, boxes, rows);

  PcapFileSource source(options.readFiles);
  if (!source.Error().empty()) return Fail(source.Error());
  std::optional<LastPacketFiles> lastPacketFiles;
  if (!options.saveDirectory.empty()) lastPacketFiles.emplace(options.saveDirectory);
  PacketCounters counters;
  const cli::CaptureLabels labels{"", "", options.srcFilter, options.dstFilter};
  std::optional<cli::MetricsFile> metricsFile;
  std::string error;
  if (!options.metricsFile.empty()) {
    metricsFile.emplace(options.metricsFile, [&] { return cli::MetricsText(counters, rows.RowsListed(), 0, labels); });
    if (!metricsFile->Start(error)) return Fail(error);
  }
  const std::atomic<bool> capturing{true};
  CaptureThreadProc({capturing, source, counters, boxes, rows, options.srcFilter, options.dstFilter,
                     lastPacketFiles ? &*lastPacketFiles : nullptr});
  cli::PrintCounters(stdout, counters.Snapshot(), options.format);
  if (std::fflush(stdout) != 0) return Fail("cannot write the output");
  if (const auto written = rows.Finish()) return Fail(*written);
  if (metricsFile && !metricsFile->Finish(error)) return Fail(error);
  if (!source.Error().empty()) return Fail(source.Error());
  return 0;
}
