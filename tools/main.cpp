// orvanel-cli: the headless twin of the dialog, reading capture files or
// capturing live.
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_loop.h"
#include "session/pcap_file_source.h"
#include "storage/last_packet.h"
#include "tools/cli_options.h"
#include "tools/cli_rows.h"
#include "tools/conversation_printer.h"
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

// A read ends early at SIGINT, SIGTERM or SIGHUP, and nothing it was to
// write replaces its target then.
// The handler may run on the metrics file's thread.
std::atomic<bool> reading{true};
std::atomic<int> stoppedBy{0};

void StopReading(int signal) {
  stoppedBy.store(signal, std::memory_order_relaxed);
  reading.store(false, std::memory_order_relaxed);
}

void StopReadingOnSignals() {
  struct sigaction action {};
  action.sa_handler = StopReading;  // without SA_RESTART: a read waiting on a pipe returns
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Said once, when the first packet cannot be saved; the losses' line counts them all.
void TellSaveFailure(const std::string& directory, const orvanel::SaveFailure& failure) {
  std::fprintf(stderr, "orvanel-cli: cannot save packets in --save-last '%s/%s': %s\n", directory.c_str(), failure.file,
               std::strerror(failure.error));
}

// The file an output would replace, when it is one of the files to read (by
// device and inode, so also under another name or link); empty when none is.
std::string OutputOverInput(const orvanel::cli::CliOptions& options) {
  std::vector<std::pair<std::string, std::string>> outputs;  // option, path
  if (!options.writeFile.empty()) outputs.emplace_back("--write", options.writeFile);
  if (!options.metricsFile.empty()) outputs.emplace_back("--metrics-file", options.metricsFile);
  if (!options.saveDirectory.empty()) {
    for (const char* name : orvanel::kLastPacketFileNames) {
      outputs.emplace_back("--save-last", options.saveDirectory + "/" + name);
    }
  }
  for (const auto& [option, output] : outputs) {
    struct stat written {};
    if (stat(output.c_str(), &written) != 0) continue;  // made anew: no input is lost
    for (const std::string& input : options.readFiles) {
      struct stat read {};
      if (stat(input.c_str(), &read) == 0 && read.st_dev == written.st_dev && read.st_ino == written.st_ino) {
        return option + " '" + output + "' is the file to read '" + input + "'; it is left as it is";
      }
    }
  }
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
  if (options.version) {
    std::fwrite(cli::VersionText().data(), 1, cli::VersionText().size(), stdout);
    return 0;
  }

  if (options.listAddresses) return cli::PrintLocalAddresses();
  // Past the file size limit a write fails with EFBIG, which is told, and the
  // temporary file of --write is removed.
  std::signal(SIGXFSZ, SIG_IGN);
  if (!options.saveDirectory.empty()) {
    if (const int error = DumpDirectoryError(options.saveDirectory)) {
      return Fail("--save-last '" + options.saveDirectory + "': " + std::strerror(error));
    }
  }
  SaveFailures saveFailures(
      [&directory = options.saveDirectory](const SaveFailure& failure) { TellSaveFailure(directory, failure); });

  if (const std::string problem = OutputOverInput(options); !problem.empty()) return Fail(problem);

  AtomicCaptureOptions boxes;
  for (int option = 0; option < kCaptureOptionCount; ++option) {
    boxes.Set(static_cast<CaptureOption>(option), options.boxes[option]);
  }
  cli::CliRows rows(options.quiet ? nullptr : stdout, options.format, options.time);
  if (options.rowFilter) {
    std::string reason;
    auto matcher = RowMatcher::ForExpression(*options.rowFilter, reason);
    if (!matcher) return Fail("bad --filter '" + *options.rowFilter + "': " + reason);
    rows.Narrow(std::move(matcher));
  }
  // A live capture waits for these signals itself.
  if (!options.address) StopReadingOnSignals();
  if (!options.writeFile.empty()) {
    if (const auto error = rows.WriteTo(options.writeFile)) return Fail(*error);
  }
  std::optional<ConversationTable> conversations;
  // Bandwidth per program is counted by conversation.
  if (options.conversations || options.programMetrics) conversations.emplace(options.conversationLimit);
  ConversationTable* const conversationTable = conversations ? &*conversations : nullptr;
  if (options.address) return cli::RunLiveCapture(options, boxes, rows, conversationTable, saveFailures);

  PcapFileSource source(options.readFiles);
  if (source.Failure()) return Fail(source.Failure()->Text());
  std::optional<LastPacketFiles> lastPacketFiles;
  if (!options.saveDirectory.empty()) lastPacketFiles.emplace(options.saveDirectory, &saveFailures);
  PacketCounters counters;
  const cli::CaptureLabels labels{"", "", options.srcFilter, options.dstFilter};
  std::optional<cli::MetricsFile> metricsFile;
  std::string error;
  if (!options.metricsFile.empty()) {
    metricsFile.emplace(options.metricsFile, [&] {
      return cli::MetricsText(counters, rows.RowsListed(), 0, 0, saveFailures.Packets(), labels);
    });
    if (!metricsFile->Start(error)) return Fail(error);
  }
  CaptureThreadProc({reading, source, counters, boxes, rows, options.srcFilter, options.dstFilter,
                     lastPacketFiles ? &*lastPacketFiles : nullptr, conversationTable});
  cli::PrintCounters(stdout, counters.Snapshot(), options.format);
  if (conversations) cli::PrintConversations(stdout, *conversations, options.format);
  if (saveFailures.Packets() > 0) {
    cli::PrintLosses({.notListed = rows.RowsNotListed(), .notSaved = saveFailures.Packets()});
  }
  if (std::fflush(stdout) != 0) return Fail("cannot write the output");
  if (const int signal = stoppedBy.load(std::memory_order_relaxed)) {
    std::fprintf(stderr, "orvanel-cli: the read was stopped: %s\n", strsignal(signal));
    return 128 + signal;  // as the signal's own end would say
  }
  if (const auto written = rows.Finish()) return Fail(*written);
  if (metricsFile && !metricsFile->Finish(error)) return Fail(error);
  if (source.Failure()) return Fail(source.Failure()->Text());
  return 0;
}
