#include "tools/live_capture.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string_view>

#include "capture/capture_session.h"
#include "net/local_addresses.h"
#include "tools/row_printer.h"

namespace orvanel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// How often the end of the capture is checked for, at most.
constexpr std::chrono::milliseconds kCheckPeriod{10};

int Fail(int status, std::string_view message) {
  std::fprintf(stderr, "orvanel-cli: %.*s\n", static_cast<int>(message.size()), message.data());
  return status;
}

// Returns when the packet limit was reached, the time is up or a stop signal came.
void WaitForEnd(const CaptureSession& session, double seconds, const sigset_t& stopSignals) {
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    if (session.LoopEnded()) return;
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(kCheckPeriod);
    if (seconds > 0) {
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return;
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left));
    }
    const timespec timeout{0, static_cast<long>(wait.count())};
    if (sigtimedwait(&stopSignals, nullptr, &timeout) > 0) return;
  }
}

}  // namespace

int RunLiveCapture(const CliOptions& options, const CaptureOptions& boxes, CliRows& rows) {
  // Stop signals are taken by WaitForEnd alone; the capture thread inherits
  // the blocked set.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  PacketCounters counters;
  // rows are written by the capture thread until Stop, then by this one
  CaptureSession session(counters, boxes, rows, options.saveDirectory);
  session.SetPacketLimit(options.count);
  const StartResult started = session.StartCapture(*options.address, options.srcFilter, options.dstFilter);
  if (started != StartResult::Started) {
    return Fail(started == StartResult::NoAddressChosen ? 2 : 1, StartResultMeaning(started));
  }
  std::fprintf(stderr, "orvanel-cli: capturing on %s\n", options.address->c_str());  // stderr is unbuffered
  WaitForEnd(session, options.seconds, stopSignals);
  session.StopCapture();

  PrintCounters(stdout, counters);
  if (std::fflush(stdout) != 0) return Fail(2, "cannot write the output");
  if (const auto error = rows.Finish()) return Fail(2, *error);
  // Every row is printed, so none is left unlisted here; the dialog's spool may refuse rows.
  std::fprintf(stderr, "orvanel-cli: %d receive failures, %llu dropped by the kernel, 0 not listed\n",
               counters.ReceiveErrors(), static_cast<unsigned long long>(session.KernelDrops()));
  return 0;
}

int PrintLocalAddresses() {
  const auto addresses = LocalAddressTexts();
  if (!addresses) return Fail(1, StartResultMeaning(StartResult::AddressListFailed));
  for (const std::string& address : *addresses) std::printf("%s\n", address.c_str());
  if (std::fflush(stdout) != 0) return Fail(2, "cannot write the output");
  return 0;
}

}  // namespace orvanel::cli
