#include "tools/live_capture.h"

#include <net/if.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>

#include "net/local_addresses.h"
#include "session/capture_losses.h"
#include "session/capture_session.h"
#include "session/program_attribution.h"
#include "tools/conversation_printer.h"
#include "tools/metrics_file.h"
#include "tools/metrics_server.h"
#include "tools/metrics_text.h"
#include "tools/row_printer.h"
#include "tools/web_config.h"

namespace orvanel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// How often the end of the capture is checked for, at most.
constexpr std::chrono::milliseconds kCheckPeriod{10};

int Fail(int status, std::string_view message) {
  std::fprintf(stderr, "orvanel-cli: %.*s\n", static_cast<int>(message.size()), message.data());
  return status;
}

// Returns when the packet limit was reached, the time is up or a stop signal
// came; calls hangUp on each SIGHUP.
void WaitForEnd(const CaptureSession& session, double seconds, const sigset_t& signals,
                const std::function<void()>& hangUp) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    if (session.LoopEnded()) return;
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(kCheckPeriod);
    if (seconds > 0) {
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return;
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left));
    }
    const timespec timeout{0, static_cast<long>(wait.count())};
    const int signal = sigtimedwait(&signals, nullptr, &timeout);
    if (signal == SIGHUP) hangUp();
    if (signal > 0 && signal != SIGHUP) return;
  }
}

// Until address is local, looked up once a second; false when a stop signal came first.
bool AwaitAddress(const std::string& address, const sigset_t& signals) {
  bool said = false;
  for (;;) {
    const auto addresses = LocalAddressTexts();
    if (addresses && std::ranges::find(*addresses, address) != addresses->end()) return true;
    if (!said) std::fprintf(stderr, "orvanel-cli: waiting for %s to be an address of this machine\n", address.c_str());
    said = true;
    const timespec second{1, 0};
    const int signal = sigtimedwait(&signals, nullptr, &second);
    if (signal > 0 && signal != SIGHUP) return false;
  }
}

// Lets the capture take what the kernel already holds, then stops it.
void FinishAndStop(CaptureSession& session) {
  session.FinishCapture();
  while (!session.LoopEnded()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  session.StopCapture();
}

// The name of the interface that holds address; empty when it is not local.
std::string InterfaceOf(const std::string& address) {
  const auto addresses = QueryLocalAddresses();
  if (!addresses) return {};
  for (const LocalAddress& local : *addresses) {
    char name[IF_NAMESIZE] = "";
    if (local.text == address && if_indextoname(local.interfaceIndex, name)) return name;
  }
  return {};
}

}  // namespace

int RunLiveCapture(const CliOptions& options, const CaptureOptions& boxes, CliRows& rows,
                   ConversationTable* conversations, SaveFailures& saveFailures) {
  // Stop signals and SIGHUP are taken by WaitForEnd alone; the capture
  // thread inherits the blocked set, and so does the metrics server's.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  PacketCounters counters;
  // rows are written by the capture thread until Stop, then by this one
  CaptureSession session(counters, boxes, rows, options.saveDirectory, conversations, &saveFailures);
  session.SetPacketLimit(options.count);
  CaptureLosses losses(
      session, [&rows] { return rows.RowsNotListed(); }, saveFailures);

  std::string error;
  std::optional<WebConfig> web = WebConfig{};
  if (!options.webConfig.empty()) web = ReadWebConfig(options.webConfig, error);
  if (!web) return Fail(2, error);
  if (options.waitForAddress && !AwaitAddress(*options.address, signals)) return 0;

  const CaptureLabels labels{*options.address, InterfaceOf(*options.address), options.srcFilter, options.dstFilter};
  // Made before the metrics server, which asks them; watching from the capture's start.
  std::optional<ProgramAttribution> programs;
  if (conversations) programs.emplace(*conversations);
  ProgramMeter meter;
  const ProgramFinder programOf = [&programs](ConversationId id) { return programs->ProgramOf(id); };
  const auto metricsText = [&] {
    std::string text = MetricsText(counters, rows.RowsListed(), session.KernelDrops(), session.InterfaceInterruptions(),
                                   saveFailures.Packets(), labels);
    if (options.programMetrics) {
      meter.Sweep(*conversations, programOf, [&programs](std::uint32_t address) { return programs->IsLocal(address); });
      text += ProgramMetricsText(meter.Totals(), meter.OtherConversations());
    }
    return text;
  };
  // The port is taken first, while a privileged one still can be. Strangers
  // may reach it, so the process gives up every capability once its capture
  // socket is open, before any thread starts.
  std::unique_ptr<MetricsServer> server;
  if (options.metricsListen) {
    server = MetricsServer::Listen(*options.metricsListen, metricsText, error);
    if (!server) return Fail(1, error);
    session.DropCapabilitiesOnceOpen();
  }

  const std::int64_t startNs =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const StartOutcome started = session.StartCapture(*options.address, options.srcFilter, options.dstFilter);
  if (started.result != StartResult::Started) {
    return Fail(started.result == StartResult::NoAddressChosen ? 2 : 1, StartOutcomeText(started));
  }
  if (programs) {
    programs->Watch(LocalAddressValues(), startNs);
    programs->Start();
  }
  if (server && !server->Start(options.metricsAllow, std::move(*web), error)) return Fail(1, error);
  std::optional<MetricsFile> metricsFile;
  if (!options.metricsFile.empty()) {
    metricsFile.emplace(options.metricsFile, metricsText);
    if (!metricsFile->Start(error)) return Fail(2, error);
  }
  // stderr is unbuffered
  if (server) std::fprintf(stderr, "orvanel-cli: metrics on %s\n", server->Url().c_str());
  std::fprintf(stderr, "orvanel-cli: capturing on %s\n", options.address->c_str());
  // The toolkit's users rotate certificates this way.
  const auto reload = [&] {
    if (!server || options.webConfig.empty()) return;
    std::string problem;
    std::optional<WebConfig> next = ReadWebConfig(options.webConfig, problem);
    if (next && server->Reload(std::move(*next), problem)) {
      std::fprintf(stderr, "orvanel-cli: web config %s reloaded\n", options.webConfig.c_str());
    } else {
      std::fprintf(stderr, "orvanel-cli: kept the web config in use: %s\n", problem.c_str());
    }
  };
  WaitForEnd(session, options.seconds, signals, reload);
  FinishAndStop(session);

  losses.CaptureStopped();
  const CounterSnapshot shown = counters.Snapshot();
  PrintCounters(stdout, shown, options.format);
  if (programs) {
    programs->Stop();
    programs->Pass();  // the last conversations, while their sockets may still be open
  }
  if (options.conversations) PrintConversations(stdout, *conversations, options.format, programOf);
  // Said even when the output failed: rows whose lines were lost count here.
  PrintLosses(losses.Read(shown.receiveErrors));
  if (std::fflush(stdout) != 0) return Fail(2, "cannot write the output");
  if (const auto written = rows.Finish()) return Fail(2, *written);
  if (metricsFile && !metricsFile->Finish(error)) return Fail(2, error);
  // Status 1, so that a service manager starts it again.
  if (session.InterfaceLost()) return Fail(1, "the interface of " + *options.address + " went away");
  return 0;
}

void PrintLosses(const Losses& lost) {
  std::fprintf(stderr,
               "orvanel-cli: %d receive failures, %llu dropped by the kernel, %llu not listed, %llu interface "
               "interruptions, %llu not saved",
               lost.receiveFailures, static_cast<unsigned long long>(lost.kernelDrops),
               static_cast<unsigned long long>(lost.notListed),
               static_cast<unsigned long long>(lost.interfaceInterruptions),
               static_cast<unsigned long long>(lost.notSaved));
  // Only a flood through the socket helper has these, so only they are named.
  if (lost.notInConversations > 0) {
    std::fprintf(stderr, ", %llu not in the conversations", static_cast<unsigned long long>(lost.notInConversations));
  }
  std::fputc('\n', stderr);
}

int PrintLocalAddresses() {
  const auto addresses = LocalAddressTexts();
  if (!addresses) return Fail(1, StartResultMeaning(StartResult::AddressListFailed));
  if (addresses->empty()) return Fail(1, StartResultMeaning(StartResult::AddressListEmpty));
  for (const std::string& address : *addresses) std::printf("%s\n", address.c_str());
  if (std::fflush(stdout) != 0) return Fail(2, "cannot write the output");
  return 0;
}

}  // namespace orvanel::cli
