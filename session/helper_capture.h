// A capture run by the socket helper, for a process without the right to
// capture: the helper opens the socket and runs the capture loop; this
// process sees only its counts, listed rows and counted packets, in a shared
// block and, when the table is a spool, in the spool's own files, which the
// helper appends to (no descriptor that can capture or send ever comes
// here). A thread of its own takes them into the caller's own counters,
// table and conversation table, and hands the boxes' states and the list
// files the other way. When the capture's interface goes away, the helper
// ends and the thread starts another wherever the address shows up again.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "capture/packet_decode.h"
#include "capture/packet_source.h"
#include "net/capture_request.h"
#include "net/start_result.h"
#include "session/loop_run.h"
#include "storage/row_spool.h"

namespace orvanel {

class HelperCapture {
 public:
  // Where the relay puts what the helper's capture counts beyond the targets.
  struct Totals {
    std::atomic<std::uint64_t>& kernelDrops;       // this capture's drops, from zero
    std::atomic<std::uint64_t>& interruptions;     // this capture's, from zero: times its interface went away
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
  // The helper takes what the kernel holds, then leaves its loop; while the
  // interface is gone, the capture ends.
  void Finish();
  // The helper leaves its loop and ends (killed when it does not within a
  // few seconds); then everything it counted and listed is in the targets.
  void Stop();
  // The capture has ended by itself (limit, Finish), or its helper ended; a
  // helper that ended before its loop did counts one receive failure.
  [[nodiscard]] bool LoopLeft() const { return loopLeft_.load(std::memory_order_acquire); }
  // The running helper's process; -1 while the interface is gone.
  [[nodiscard]] pid_t HelperPid() const { return pid_.load(std::memory_order_relaxed); }

 private:
  struct Helper;
  HelperCapture(const std::string& helperPath, const std::string& chosenAddress, const std::string& srcFilter,
                const std::string& dstFilter, std::uint32_t packetLimit, const LoopTargets& targets, Totals totals);
  StartOutcome StartHelper();
  void Relay();
  [[nodiscard]] bool RelayUntilItEnds(Helper& helper);
  [[nodiscard]] bool StartAgainWhereTheAddressIs();
  [[nodiscard]] bool TakeRows(Helper& helper);
  [[nodiscard]] bool TakeListed(Helper& helper);
  ListFilesToPass PassListFiles(Helper& helper);
  void PublishRoom(Helper& helper);
  void SaveLast(const IpHeaderView& view, const ListedRow& row);
  void TakeCounts(Helper& helper);
  void MirrorBoxes(Helper& helper);
  void Send(std::uint8_t command);

  const std::string helperPath_;
  const std::string address_;
  const std::string srcFilter_;
  const std::string dstFilter_;
  const std::uint32_t packetLimit_;
  const LoopTargets& targets_;
  RowSpool* const spool_;  // the table, when it is a spool: the helper appends to its files
  Totals totals_;

  // The relay's.
  LastPacketFiles files_;
  ReceiveBuffer padded_{};              // a listed datagram zero-padded for the last-packet files
  std::uint64_t allCounted_ = 0;        // packets of the All group, over every helper
  std::uint64_t dropsBefore_ = 0;       // kernel drops of the helpers before this one
  std::shared_ptr<SpoolFiles> passed_;  // the list files the helper was handed last

  std::mutex mutex_;
  std::condition_variable commanded_;
  std::unique_ptr<Helper> helper_;  // guarded by mutex_ against Stop and Finish; the relay alone changes it
  bool stopping_ = false;           // guarded by mutex_
  bool finishing_ = false;          // guarded by mutex_
  std::atomic<pid_t> pid_{-1};
  std::atomic<bool> loopLeft_{false};
  std::atomic<bool> ended_{false};
  std::thread relay_;
};

}  // namespace orvanel
