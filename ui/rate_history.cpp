#include "ui/rate_history.h"

namespace orvanel {

void RateHistory::Record(Clock::time_point time, const CounterSnapshot& counters) {
  if (lastTime_ && time <= *lastTime_) return;
  if (!lastTime_ || interrupted_ || time - *lastTime_ > kLongestStep) {
    gap_ = true;
    interrupted_ = false;
  } else {
    const double seconds = std::chrono::duration<double>(time - *lastTime_).count();
    Sample sample{time, gap_};
    for (int group = 0; group < kTrafficGroupCount; ++group) {
      for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
        const std::uint64_t packets = counters.packetTotals[group][protocol] - lastPackets_[group][protocol];
        const std::uint64_t bytes = counters.byteTotals[group][protocol] - lastBytes_[group][protocol];
        sample.packetsPerSecond[group][protocol] = static_cast<float>(static_cast<double>(packets) / seconds);
        sample.bitsPerSecond[group][protocol] = static_cast<float>(static_cast<double>(bytes) * 8 / seconds);
      }
    }
    Append(sample);
    gap_ = false;
  }
  lastTime_ = time;
  lastPackets_ = counters.packetTotals;
  lastBytes_ = counters.byteTotals;
}

void RateHistory::Interrupt() { interrupted_ = true; }

void RateHistory::Clear() {
  samples_.clear();
  first_ = 0;
  gap_ = true;
}

void RateHistory::Append(const Sample& sample) {
  ++appended_;
  if (samples_.size() < kCapacity) {
    samples_.push_back(sample);
  } else {
    samples_[first_] = sample;
    first_ = (first_ + 1) % kCapacity;
  }
}

}  // namespace orvanel
