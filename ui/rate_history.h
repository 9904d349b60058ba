// Packets per second of every group and protocol class, worked out from the
// counters read at each refresh; the last five minutes of it, in a ring.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/counters.h"

namespace orvanel {

class RateHistory {
 public:
  using Clock = std::chrono::steady_clock;
  // Five minutes of readings 100 ms apart.
  static constexpr std::size_t kCapacity = 3000;

  struct Sample {
    Clock::time_point time;
    std::array<std::array<float, kProtocolClassCount>, kTrafficGroupCount> perSecond;

    float Rate(TrafficGroup group, ProtocolClass protocol) const {
      return perSecond[static_cast<int>(group) - 1][static_cast<int>(protocol)];
    }
  };

  // Adds the rates since the previous reading. A counter that went back was
  // zeroed (Start, Clear list) and counts from zero since. The first reading,
  // and the first after Interrupt, only sets where counting starts.
  void Record(Clock::time_point time, const CounterGrid& counts);
  // The capture stopped: nothing is counted until the next reading, which
  // starts afresh.
  void Interrupt();
  // Forgets the samples; the last reading still counts as the previous one.
  void Clear();

  std::size_t Size() const { return samples_.size(); }
  // Samples appended since the start, including those the ring let go.
  std::uint64_t Appended() const { return appended_; }
  // Oldest first.
  const Sample& At(std::size_t index) const { return samples_[(first_ + index) % samples_.size()]; }
  const Sample& Newest() const { return At(Size() - 1); }

 private:
  void Append(const Sample& sample);

  std::vector<Sample> samples_;
  std::size_t first_ = 0;
  std::uint64_t appended_ = 0;
  std::optional<Clock::time_point> lastTime_;
  CounterGrid last_{};
  bool interrupted_ = false;
};

}  // namespace orvanel
