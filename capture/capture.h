// The chief types of the capture core: what one packet is counted and listed as.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvanel {

// Every datagram is received into a buffer of this size; longer ones are cut.
inline constexpr std::size_t kReceiveBufferSize = 2048;
using ReceiveBuffer = std::array<std::uint8_t, kReceiveBufferSize>;

enum class ProtocolClass : std::uint8_t { TCP = 0, UDP = 1, ICMP = 2, OTHER = 3 };
inline constexpr int kProtocolClassCount = 4;

inline constexpr std::uint8_t kProtocolICMP = 1;
inline constexpr std::uint8_t kProtocolTCP = 6;
inline constexpr std::uint8_t kProtocolUDP = 17;

constexpr ProtocolClass ClassOfProtocol(std::uint8_t protocolByte) {
  switch (protocolByte) {
    case kProtocolTCP: return ProtocolClass::TCP;
    case kProtocolUDP: return ProtocolClass::UDP;
    case kProtocolICMP: return ProtocolClass::ICMP;
    default: return ProtocolClass::OTHER;
  }
}

// The label of column 0; OTHER has none and is never listed.
constexpr std::string_view ProtocolLabel(ProtocolClass protocol) {
  switch (protocol) {
    case ProtocolClass::TCP: return "TCP";
    case ProtocolClass::UDP: return "UDP";
    case ProtocolClass::ICMP: return "ICMP";
    case ProtocolClass::OTHER: break;
  }
  return {};
}

enum class TrafficGroup : int { All = 1, Source = 2, Destination = 3, Other = 4 };
inline constexpr int kTrafficGroupCount = 4;

// Seventeen counters shared by the capture thread (increments) and the UI
// thread (reads and zeroes). Increments come from one thread at a time, so
// each is a plain load and store of an atomic, without a locked instruction.
// Zeroing records the running total rather than overwriting it: an increment
// that races with a zeroing may be kept or lost, but it can never bring back
// the value before the zeroing. The running totals are 64-bit and never go
// back, for exporters that want counters rather than what the dialog shows.
class PacketCounters {
 public:
  PacketCounters() = default;
  PacketCounters(const PacketCounters&) = delete;
  PacketCounters& operator=(const PacketCounters&) = delete;

  // Adds one to (group, class of protocolByte); a group outside 1..4 changes
  // nothing. Inline: it runs two or three times for every packet.
  void CountPacket(TrafficGroup group, std::uint8_t protocolByte) {
    const int index = static_cast<int>(group) - 1;
    if (index < 0 || index >= kTrafficGroupCount) return;
    counts_[index][static_cast<int>(ClassOfProtocol(protocolByte))].Increment();
  }
  void CountReceiveError();

  void ZeroGroupCounters();  // Source, Destination and Other
  void ZeroTotals();         // All and the receive errors
  void ZeroAllCounters();

  // Past the largest 32-bit value a counter wraps to the most negative one.
  std::int32_t Count(TrafficGroup group, ProtocolClass protocol) const;
  std::int32_t ReceiveErrors() const;

  // Every increment since the counters were made, whatever was zeroed.
  std::uint64_t RunningTotal(TrafficGroup group, ProtocolClass protocol) const;
  std::uint64_t RunningReceiveErrors() const;

 private:
  friend struct PacketCountersTestPeer;  // tests start counters near the 32-bit wrap

  // The shown value is the running total less the total at the last zeroing.
  struct Counter {
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::uint64_t> zeroedAt{0};

    void Increment() { total.store(total.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
    void Zero() { zeroedAt.store(total.load(std::memory_order_relaxed), std::memory_order_release); }
    std::int32_t Value() const {
      const std::uint64_t base = zeroedAt.load(std::memory_order_acquire);  // first: total is then >= base
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(total.load(std::memory_order_relaxed) - base));
    }
  };
  void ZeroGroup(TrafficGroup group);

  std::array<std::array<Counter, kProtocolClassCount>, kTrafficGroupCount> counts_;
  Counter receiveErrors_;
};

// The dialog's check boxes as the capture loop sees them.
enum class CaptureOption : int {
  SourceEnable,
  DestinationEnable,
  OtherEnable,
  SourceTCP,
  SourceUDP,
  SourceICMP,
  DestinationTCP,
  DestinationUDP,
  DestinationICMP,
  OtherTCP,
  OtherUDP,
  OtherICMP,
  SaveLast,
};
inline constexpr int kCaptureOptionCount = 13;

inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;

// The one query through which the loop reads a box, at the moment each test
// is reached. The value is the box's check state (0 unchecked, 1 checked,
// 2 indeterminate); the loop never caches it.
class CaptureOptions {
 public:
  virtual ~CaptureOptions() = default;
  virtual int State(CaptureOption option) const = 0;
};

// Box states that one thread sets and the capture thread reads without blocking.
class AtomicCaptureOptions final : public CaptureOptions {
 public:
  int State(CaptureOption option) const override {
    return states_[static_cast<int>(option)].load(std::memory_order_relaxed);
  }
  void Set(CaptureOption option, int state) {
    states_[static_cast<int>(option)].store(state, std::memory_order_relaxed);
  }

 private:
  std::array<std::atomic<int>, kCaptureOptionCount> states_{};
};

// Columns of the packet table: protocol, source, port, destination, port,
// length, payload.
inline constexpr int kPacketColumnCount = 7;

}  // namespace orvanel
