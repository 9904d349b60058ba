// What a capture in the socket helper shares with the process that started
// it: one memfd, made, sized and sealed by the caller and passed over the
// channel. The helper's loop counts into it, lists rows into the caller's
// list files (net/spool_file_writer.h) or else into its row ring, and puts
// every counted packet in its counted ring; the caller reads them in place
// and writes the boxes' states and the list files' room there.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/capture_options.h"
#include "capture/counters.h"
#include "capture/unique_fd.h"

namespace orvanel {

// Room for the rows the caller has not taken yet: about 23,000 full-size
// datagrams, a few hundred milliseconds of a gigabit flood.
inline constexpr std::size_t kRowRingBytes = std::size_t{32} << 20;

// What the conversation table needs of a run of counted packets: packets
// of one flow in one direction, one after another (a fragment alone), with
// the first one's header bytes and ports, their bytes and their times.
struct CountedRecord {
  std::array<std::uint8_t, 24> header;
  std::uint16_t sourcePort;
  std::uint16_t destinationPort;
  std::uint8_t hasPorts;  // a byte, not a bool: the caller reads whatever is there
  std::uint32_t packets;
  std::uint64_t bytes;             // their IPv4 total lengths
  std::int64_t captureTimeNs;      // the earliest
  std::int64_t lastCaptureTimeNs;  // the latest
};
static_assert(sizeof(CountedRecord) == 64);

// More records than the kernel's ring holds 64-byte datagrams (about
// 380,000), so a flood the kernel keeps up with finds room here as long as
// the relay runs, even when no two packets in a row share a flow: 32 MiB.
inline constexpr std::size_t kCountedRingRecords = std::size_t{1} << 19;

struct CaptureBlock {
  PacketCounters counters;                                    // the helper's loop
  std::array<std::atomic<int>, kCaptureOptionCount> boxes{};  // the caller
  std::atomic<std::uint64_t> kernelDrops{0};                  // the helper
  std::atomic<std::uint64_t> rowsNotPassed{0};                // the helper: rows the ring had no room for
  std::atomic<std::uint32_t> loopLeft{0};                     // the helper: its loop has ended
  std::atomic<std::uint32_t> interfaceGone{0};                // the helper, before loopLeft: because of this
  std::atomic<std::uint64_t> ringWritten{0};                  // the helper: bytes put in the ring
  std::atomic<std::uint64_t> ringRead{0};                     // the caller: bytes taken from it
  std::atomic<std::uint64_t> countedNotPassed{0};             // the helper: packets the ring had no room for
  std::atomic<std::uint64_t> countedWritten{0};               // the helper: records put in the counted ring
  std::atomic<std::uint64_t> countedRead{0};                  // the caller: records taken from it
  std::atomic<std::uint64_t> listFilesTaken{0};               // the helper: list files taken; it appends to the last
  std::atomic<std::uint64_t> listRows{0};                     // the helper: the rows those files hold
  std::atomic<std::uint64_t> listDataUsed{0};                 // the helper: the data bytes they take, before listRows
  std::atomic<std::uint64_t> roomFiles{0};  // the caller: the list files the room is for (0: changing)
  std::atomic<std::uint64_t> dataRoom{0};   // the caller: bytes of their data file the helper may write
  std::atomic<std::uint64_t> indexRoom{0};  // the caller: the same of their index file
  alignas(64) std::uint8_t ring[kRowRingBytes];
  alignas(64) CountedRecord counted[kCountedRingRecords];
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "shared between processes: only lock-free atomics work there");

// Reads the boxes as the loop does, from the block.
class BlockCaptureOptions final : public CaptureOptions {
 public:
  explicit BlockCaptureOptions(const CaptureBlock& block) : block_(block) {}
  [[nodiscard]] int State(CaptureOption option) const override {
    return block_.boxes[static_cast<int>(option)].load(std::memory_order_relaxed);
  }

 private:
  const CaptureBlock& block_;
};

// A mapped block and its descriptor.
class SharedCaptureBlock {
 public:
  // The caller's: a fresh memfd sealed against shrinking and growing, so
  // the helper's mapping can never lose its pages. Nothing, with errno set,
  // when it cannot be made.
  static std::unique_ptr<SharedCaptureBlock> Create();
  // The helper's: maps a passed descriptor only when it is a memfd of the
  // block's size sealed that way; nothing otherwise.
  static std::unique_ptr<SharedCaptureBlock> MapPassed(UniqueFd fd);
  ~SharedCaptureBlock();
  SharedCaptureBlock(const SharedCaptureBlock&) = delete;
  SharedCaptureBlock& operator=(const SharedCaptureBlock&) = delete;

  [[nodiscard]] CaptureBlock& Block() const { return *block_; }
  [[nodiscard]] int Fd() const { return fd_.get(); }
  // Closes the descriptor; the mapping stays.
  void CloseFd() { fd_.reset(); }

 private:
  SharedCaptureBlock(UniqueFd fd, CaptureBlock* block) : fd_(std::move(fd)), block_(block) {}
  UniqueFd fd_;
  CaptureBlock* block_;
};

}  // namespace orvanel
