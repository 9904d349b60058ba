// A capture run by the socket helper, for a process without the right to
// capture: the helper opens the socket and runs the capture loop; this
// process sees only its counts, listed rows and counted packets, in a shared
// block (no descriptor that can capture or send ever comes here). A thread
// of its own takes them from the block into the caller's own counters,
// table and conversation table, and hands the boxes' states the other way.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "capture/packet_source.h"
#include "net/capture_block.h"
#include "net/counted_ring.h"
#include "net/row_ring.h"
#include "net/start_result.h"
#include "session/loop_run.h"

namespace orvanel {

class HelperCapture {
 public:
  // Where the relay puts what the helper's capture counts beyond the targets.
  struct Totals {
    std::atomic<std::uint64_t>& kernelDrops;       // this capture's drops, from zero
    std::atomic<std::uint64_t>& rowsNotPassed;     // added to: rows the block had no room for
    std::atomic<std::uint64_t>& countedNotPassed;  // added to: counted packets it had no room for
  };

  // Starts helperPath's capture on chosenAddress; the failed step, or
  // Started with the capture in capture, its helper capturing; nothing
  // reaches the targets before Run.
  static StartOutcome Start(const std::string& helperPath, const std::string& chosenAddress,
                            const std::string& srcFilter, const std::string& dstFilter, std::uint32_t packetLimit,
                            const LoopTargets& targets, Totals totals, std::unique_ptr<HelperCapture>& capture);
  ~HelperCapture();  // stops first
  HelperCapture(const HelperCapture&) = delete;
  HelperCapture& operator=(const HelperCapture&) = delete;

  // Starts the thread that takes the counts and rows into the targets.
  void Run();
  // The helper takes what the kernel holds, then leaves its loop.
  void Finish();
  // The helper leaves its loop and ends (killed when it does not within a
  // few seconds); then everything it counted and listed is in the targets.
  void Stop();
  // Its loop has ended by itself (limit, Finish), or the helper ended; a
  // helper that ended before its loop did counts one receive failure.
  bool LoopLeft() const { return loopLeft_.load(std::memory_order_acquire); }
  pid_t HelperPid() const { return pid_; }

 private:
  HelperCapture(std::unique_ptr<SharedCaptureBlock> shared, const LoopTargets& targets, Totals totals);
  void Relay();
  [[nodiscard]] bool TakeRows();
  [[nodiscard]] bool TakeCounted();
  void TakeCounts();
  void MirrorBoxes();
  void SendCommand(std::uint8_t command);

  std::unique_ptr<SharedCaptureBlock> shared_;
  CaptureBlock& block_;
  const LoopTargets& targets_;
  Totals totals_;
  RowRingReader rows_;
  CountedRingReader counted_;
  LastPacketFiles files_;
  ReceiveBuffer padded_{};  // a listed datagram zero-padded for the last-packet files
  PerGroupAndClass<std::uint64_t> packetsTaken_{};
  PerGroupAndClass<std::uint64_t> bytesTaken_{};
  std::uint64_t errorsTaken_ = 0;
  std::uint64_t notPassedTaken_ = 0;
  std::uint64_t countedNotPassedTaken_ = 0;

  UniqueFd channel_;
  pid_t pid_ = -1;
  std::atomic<bool> loopLeft_{false};
  std::atomic<bool> helperEnded_{false};
  std::thread relay_;
};

}  // namespace orvanel
