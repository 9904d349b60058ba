// Starting and stopping one live capture: the socket steps, the filters in
// force, the group counters and the one capture thread. With the right to
// capture, the loop runs on a thread of this process; without it, in the
// socket helper (session/helper_capture.h), into the same targets.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_options.h"
#include "capture/counters.h"
#include "capture/listed_row.h"
#include "net/start_result.h"
#include "session/loop_run.h"
#include "session/reopening_ring.h"

namespace orvanel {

class HelperCapture;

class CaptureSession {
 public:
  // table is called from the capture thread only; it must not block on the
  // thread that calls StopCapture. dumpDirectory is where listed packets are
  // written while the save box is checked; saveFailures counts those that
  // could not be.
  CaptureSession(PacketCounters& counters, const CaptureOptions& options, PacketTable& table, std::string dumpDirectory,
                 ConversationTable* conversations = nullptr, SaveFailures* saveFailures = nullptr);
  ~CaptureSession();  // stops a running capture first
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // Opens the capture socket on chosenAddress (an exact dotted address of this
  // machine), puts the filters in force, zeroes the group counters and starts
  // the capture thread. Does nothing but return the failed step and its errno
  // when a step fails; no socket stays open then. While capturing it changes
  // nothing and returns Started: one capture, one thread.
  StartOutcome StartCapture(const std::string& chosenAddress, const std::string& srcFilter,
                            const std::string& dstFilter);

  // Clears the running flag, wakes the thread and waits until it has left its
  // loop: afterwards nothing touches the counters or the table. The thread
  // then closes its socket by itself (the kernel may take tens of
  // milliseconds for that) and the next Start, or the destructor, joins it.
  // Returns promptly even when no packet arrives. Safe when idle.
  void StopCapture();

  [[nodiscard]] bool IsCapturing() const { return bCapturing_.load(std::memory_order_acquire); }

  // Ends the capture thread's loop once the All group has counted this many
  // packets after a Start; 0, the default, lets it run until Stop. Takes
  // effect at the next Start.
  void SetPacketLimit(std::uint32_t count) { packetLimit_ = count; }

  // From the next Start on, the process gives up every capability once the
  // capture socket is open, before the capture thread starts; a Start that
  // cannot give them up fails. Threads started earlier keep theirs: start none.
  // The capture then ends when its interface goes away (InterfaceLost).
  void DropCapabilitiesOnceOpen() { dropCapabilities_ = true; }

  // Lets the running capture take what the kernel has captured, the block it
  // is filling included (a block timeout at most), and then leave its loop
  // by itself; StopCapture is still to be called.
  void FinishCapture();

  // The running capture's thread has left its loop by itself, because its
  // packet limit was reached or FinishCapture was called; StopCapture is
  // still to be called.
  [[nodiscard]] bool LoopEnded() const;

  // Packets the kernel dropped because the capture fell behind, in the
  // running capture so far or in the last one; any thread may ask.
  [[nodiscard]] std::uint64_t KernelDrops() const { return tallies_.kernelDrops.load(std::memory_order_relaxed); }

  // Times the capture's interface went away (a new one was opened where its
  // address showed up again), in the running capture or the last one.
  [[nodiscard]] std::uint64_t InterfaceInterruptions() const {
    return tallies_.interruptions.load(std::memory_order_relaxed);
  }

  // The loop ended because the interface went away after the process gave
  // up its capabilities, so no new socket could be opened.
  [[nodiscard]] bool InterfaceLost() const { return tallies_.interfaceLost.load(std::memory_order_acquire); }

  // Listed rows of captures in the helper that found no room on their way
  // here, since the session was made; any thread may ask.
  [[nodiscard]] std::uint64_t RowsNotPassed() const { return rowsNotPassed_.load(std::memory_order_relaxed); }
  // The same for counted packets on their way to the conversation table.
  [[nodiscard]] std::uint64_t CountedNotPassed() const { return countedNotPassed_.load(std::memory_order_relaxed); }

  // The socket helper to capture through without the right; by default the
  // one beside this binary. Takes effect at the next Start.
  void UseSocketHelper(std::string path) { helperPath_ = std::move(path); }

  // The helper of the running capture, -1 when none runs there.
  [[nodiscard]] pid_t HelperPid() const;

 private:
  struct Running;
  StartOutcome StartInHelper(const std::string& chosenAddress, const std::string& srcFilter,
                             const std::string& dstFilter);
  LoopTargets targets_;
  std::atomic<bool> bCapturing_{false};
  std::unique_ptr<Running> running_;
  std::unique_ptr<Running> finished_;  // stopped, maybe still closing its socket
  RingTallies tallies_;
  std::unique_ptr<HelperCapture> helper_;
  std::string helperPath_;
  std::atomic<std::uint64_t> rowsNotPassed_{0};
  std::atomic<std::uint64_t> countedNotPassed_{0};
  std::uint32_t packetLimit_ = 0;
  bool dropCapabilities_ = false;

  void JoinFinished();
};

}  // namespace orvanel
