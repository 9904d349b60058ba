// The packet counters: one per traffic group and protocol, and the receive errors.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "capture/protocol.h"

namespace orvanel {

enum class TrafficGroup : int { All = 1, Source = 2, Destination = 3, Other = 4 };
inline constexpr int kTrafficGroupCount = 4;

// One value for each group (All first) and protocol class.
template <typename T>
using PerGroupAndClass = std::array<std::array<T, kProtocolClassCount>, kTrafficGroupCount>;

// The shown value of every counter.
using CounterGrid = PerGroupAndClass<std::int32_t>;

// All seventeen counters read at one moment, for everything one refresh
// shows, with the 64-bit running totals of packets and bytes that zeroing
// does not touch (for rates).
struct CounterSnapshot {
  CounterGrid counts{};
  std::int32_t receiveErrors = 0;
  PerGroupAndClass<std::uint64_t> packetTotals{};
  PerGroupAndClass<std::uint64_t> byteTotals{};

  // A group outside 1..4 has no counts.
  [[nodiscard]] std::int32_t Count(TrafficGroup group, ProtocolClass protocol) const {
    const int index = static_cast<int>(group) - 1;
    return index >= 0 && index < kTrafficGroupCount ? counts[index][static_cast<int>(protocol)] : 0;
  }
  [[nodiscard]] std::uint64_t Bytes(TrafficGroup group, ProtocolClass protocol) const {
    const int index = static_cast<int>(group) - 1;
    return index >= 0 && index < kTrafficGroupCount ? byteTotals[index][static_cast<int>(protocol)] : 0;
  }
};

// Seventeen counters shared by the capture thread (increments) and the UI
// thread (reads and zeroes). Increments come from one thread at a time, so
// each is a plain load and store of an atomic, without a locked instruction.
// Zeroing records the running total rather than overwriting it: an increment
// that races with a zeroing may be kept or lost, but it can never bring back
// the value before the zeroing. The running totals are 64-bit and never go
// back, for exporters that want counters rather than what the dialog shows.
// Beside each packet counter a byte total (the IPv4 total-length field) only
// grows: it is never shown as a 32-bit value, so it is never zeroed.
class PacketCounters {
 public:
  PacketCounters() = default;
  PacketCounters(const PacketCounters&) = delete;
  PacketCounters& operator=(const PacketCounters&) = delete;

  // Adds one to (group, class of protocolByte) and totalLength to its bytes;
  // a group outside 1..4 changes nothing. Inline: it runs two or three times
  // for every packet.
  void CountPacket(TrafficGroup group, std::uint8_t protocolByte, std::uint16_t totalLength = 0) {
    const int index = static_cast<int>(group) - 1;
    if (index < 0 || index >= kTrafficGroupCount) return;
    const int protocol = static_cast<int>(ClassOfProtocol(protocolByte));
    counts_[index][protocol].Increment();
    std::atomic<std::uint64_t>& bytes = bytes_[index][protocol];
    bytes.store(bytes.load(std::memory_order_relaxed) + totalLength, std::memory_order_relaxed);
  }
  void CountReceiveError();
  // Adds what another writer counted, in another process: the counters of a
  // capture that runs in the socket helper. Same one-writer rule.
  void Add(TrafficGroup group, ProtocolClass protocol, std::uint64_t packets, std::uint64_t bytes);
  void AddReceiveErrors(std::uint64_t count) { receiveErrors_.Increment(count); }

  void ZeroGroupCounters();  // Source, Destination and Other
  void ZeroTotals();         // All and the receive errors
  void ZeroAllCounters();

  // Past the largest 32-bit value a counter wraps to the most negative one.
  [[nodiscard]] std::int32_t Count(TrafficGroup group, ProtocolClass protocol) const;
  [[nodiscard]] std::int32_t ReceiveErrors() const;
  [[nodiscard]] CounterSnapshot Snapshot() const;

  // Every increment since the counters were made, whatever was zeroed.
  [[nodiscard]] std::uint64_t RunningTotal(TrafficGroup group, ProtocolClass protocol) const;
  [[nodiscard]] std::uint64_t RunningReceiveErrors() const;
  [[nodiscard]] std::uint64_t RunningBytes(TrafficGroup group, ProtocolClass protocol) const;

 private:
  friend struct PacketCountersTestPeer;  // tests start counters near the 32-bit wrap

  // The shown value is the running total less the total at the last zeroing.
  struct Counter {
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::uint64_t> zeroedAt{0};

    void Increment(std::uint64_t by = 1) {
      total.store(total.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
    }
    void Zero() { zeroedAt.store(total.load(std::memory_order_relaxed), std::memory_order_release); }
    [[nodiscard]] std::int32_t Value() const {
      const std::uint64_t base = zeroedAt.load(std::memory_order_acquire);  // first: total is then >= base
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(total.load(std::memory_order_relaxed) - base));
    }
  };
  void ZeroGroup(TrafficGroup group);

  std::array<std::array<Counter, kProtocolClassCount>, kTrafficGroupCount> counts_;
  Counter receiveErrors_;
  PerGroupAndClass<std::atomic<std::uint64_t>> bytes_{};
};

}  // namespace orvanel
