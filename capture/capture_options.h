// The dialog's check boxes as the capture loop reads them.
#pragma once

#include <array>
#include <atomic>

#include "capture/protocol.h"

namespace orvanel {

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
  [[nodiscard]] virtual int State(CaptureOption option) const = 0;
};

// Box states that one thread sets and the capture thread reads without blocking.
class AtomicCaptureOptions final : public CaptureOptions {
 public:
  [[nodiscard]] int State(CaptureOption option) const override {
    return states_[static_cast<int>(option)].load(std::memory_order_relaxed);
  }
  void Set(CaptureOption option, int state) {
    states_[static_cast<int>(option)].store(state, std::memory_order_relaxed);
  }

 private:
  std::array<std::atomic<int>, kCaptureOptionCount> states_{};
};

// A traffic group's boxes: its enable box and its TCP box, which UDP and
// ICMP follow in ProtocolClass order.
struct GroupBoxes {
  CaptureOption enable;
  CaptureOption firstProtocol;
};
inline constexpr GroupBoxes kSourceBoxes{CaptureOption::SourceEnable, CaptureOption::SourceTCP};
inline constexpr GroupBoxes kDestinationBoxes{CaptureOption::DestinationEnable, CaptureOption::DestinationTCP};
inline constexpr GroupBoxes kOtherBoxes{CaptureOption::OtherEnable, CaptureOption::OtherTCP};

// The group's box for a listed protocol (TCP, UDP or ICMP).
constexpr CaptureOption ProtocolBox(GroupBoxes boxes, ProtocolClass protocol) {
  return static_cast<CaptureOption>(static_cast<int>(boxes.firstProtocol) + static_cast<int>(protocol));
}

}  // namespace orvanel
