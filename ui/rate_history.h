// Packets and bits per second of every group and protocol class, worked out
// from the counters' running totals (which zeroing does not touch) read at
// each refresh; the last five minutes of it, in a ring.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/counters.h"

namespace orvanel {

enum class RateUnit { Packets, Bits };

class RateHistory {
 public:
  using Clock = std::chrono::steady_clock;
  // Five minutes of readings 100 ms apart.
  static constexpr std::size_t kCapacity = 3000;
  // Readings further apart than this (the dialog did not run) leave a gap.
  static constexpr std::chrono::seconds kLongestStep{1};

  struct Sample {
    Clock::time_point time;
    bool startsLine = false;  // nothing was measured between the sample before and this one
    PerGroupAndClass<float> packetsPerSecond{};
    PerGroupAndClass<float> bitsPerSecond{};

    [[nodiscard]] float Rate(RateUnit unit, TrafficGroup group, ProtocolClass protocol) const {
      const PerGroupAndClass<float>& rates = unit == RateUnit::Bits ? bitsPerSecond : packetsPerSecond;
      return rates[static_cast<int>(group) - 1][static_cast<int>(protocol)];
    }
  };

  // Adds the rates since the previous reading. The first reading, the first
  // after Interrupt and one long after the one before only set where counting
  // starts: the time before them was not measured, and is a gap.
  void Record(Clock::time_point time, const CounterSnapshot& counters);
  // The capture stopped: nothing is measured until the next reading.
  void Interrupt();
  // Forgets the samples; the last reading still counts as the previous one.
  void Clear();

  [[nodiscard]] std::size_t Size() const { return samples_.size(); }
  // Samples appended since the start, including those the ring let go.
  [[nodiscard]] std::uint64_t Appended() const { return appended_; }
  // Oldest first.
  [[nodiscard]] const Sample& At(std::size_t index) const { return samples_[(first_ + index) % samples_.size()]; }
  [[nodiscard]] const Sample& Newest() const { return At(Size() - 1); }

 private:
  void Append(const Sample& sample);

  std::vector<Sample> samples_;
  std::size_t first_ = 0;
  std::uint64_t appended_ = 0;
  std::optional<Clock::time_point> lastTime_;
  PerGroupAndClass<std::uint64_t> lastPackets_{};
  PerGroupAndClass<std::uint64_t> lastBytes_{};
  bool interrupted_ = false;
  bool gap_ = true;  // the next sample starts a line
};

}  // namespace orvanel
