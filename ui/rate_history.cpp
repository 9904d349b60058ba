#include "rate_history.h"

#include <algorithm>

namespace orvanel {
namespace {

// Counts since the previous reading. Past the largest value a counter wraps,
// which the unsigned difference absorbs; any other step back is a zeroing.
std::int64_t Increase(std::int32_t before, std::int32_t now) {
  const auto step = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(before));
  return step >= 0 ? step : std::max<std::int32_t>(now, 0);
}

}  // namespace

void RateHistory::Record(Clock::time_point time, const CounterGrid& counts) {
  if (lastTime_ && time <= *lastTime_) return;
  if (!lastTime_ || interrupted_) {
    // Nothing was counted while stopped: the graph shows that as zero.
    if (interrupted_ && Size() > 0) {
      Append({Newest().time, {}});
      Append({time, {}});
    }
    interrupted_ = false;
  } else {
    const double seconds = std::chrono::duration<double>(time - *lastTime_).count();
    Sample sample{time, {}};
    for (int group = 0; group < kTrafficGroupCount; ++group) {
      for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
        const std::int64_t increase = Increase(last_[group][protocol], counts[group][protocol]);
        sample.perSecond[group][protocol] = static_cast<float>(static_cast<double>(increase) / seconds);
      }
    }
    Append(sample);
  }
  lastTime_ = time;
  last_ = counts;
}

void RateHistory::Interrupt() { interrupted_ = true; }

void RateHistory::Clear() {
  samples_.clear();
  first_ = 0;
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
