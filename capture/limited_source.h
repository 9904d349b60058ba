// A source that is exhausted once the All group has counted a number of
// packets after it was made: the packet limit of a capture.
#pragma once

#include <cstdint>

#include "capture/counters.h"
#include "capture/packet_source.h"

namespace orvanel {

class LimitedSource final : public PacketSource {
 public:
  // limit 0: no limit.
  LimitedSource(PacketSource& source, const PacketCounters& counters, std::uint32_t limit)
      : source_(source), counters_(counters), limit_(limit), startTotal_(AllGroupTotal(counters)) {}

  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    if (limit_ != 0 && AllGroupTotal(counters_) - startTotal_ >= limit_) return {ReceiveStatus::Exhausted, 0};
    return source_.Receive(buffer);
  }

 private:
  static std::uint32_t AllGroupTotal(const PacketCounters& counters) {
    std::uint32_t total = 0;  // wraps like the counters themselves
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      total += static_cast<std::uint32_t>(counters.Count(TrafficGroup::All, static_cast<ProtocolClass>(protocol)));
    }
    return total;
  }

  PacketSource& source_;
  const PacketCounters& counters_;
  const std::uint32_t limit_;
  const std::uint32_t startTotal_;
};

}  // namespace orvanel
