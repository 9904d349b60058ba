#include "bench/dialog/synthetic_traffic.h"

#include <atomic>
#include <cstring>

namespace orvanel::bench {

ReceiveResult SyntheticUdpSource::Receive(ReceiveBuffer& buffer) {
  if (next_ == count_) return {ReceiveStatus::Exhausted, 0};
  constexpr std::size_t kLength = 20 + 8 + kSyntheticPayload;
  const std::uint8_t header[28] = {0x45,
                                   0,
                                   0,
                                   kLength,
                                   0,
                                   0,
                                   0x40,
                                   0,
                                   64,
                                   17,
                                   0,
                                   0,
                                   127,
                                   0,
                                   0,
                                   1,
                                   127,
                                   0,
                                   0,
                                   1,
                                   static_cast<std::uint8_t>(next_ >> 8),
                                   static_cast<std::uint8_t>(next_),
                                   0x9c,
                                   0x40,
                                   0,
                                   8 + kSyntheticPayload,
                                   0,
                                   0};
  std::memcpy(buffer.data(), header, sizeof header);
  for (std::size_t i = 0; i < kSyntheticPayload; ++i) {
    buffer[sizeof header + i] = static_cast<std::uint8_t>('a' + (next_ + i) % 26);
  }
  ++next_;
  return {ReceiveStatus::Packet, kLength};
}

void ListSyntheticUdp(std::size_t count, PacketTable& table) {
  SyntheticUdpSource source(count);
  PacketCounters counters;
  AtomicCaptureOptions options;
  for (CaptureOption box : {CaptureOption::SourceEnable, CaptureOption::DestinationEnable, CaptureOption::SourceUDP,
                            CaptureOption::DestinationUDP}) {
    options.Set(box, kChecked);
  }
  const std::atomic<bool> capturing{true};
  const CaptureContext context{capturing, source, counters, options, table, "127.0.0.1", "127.0.0.1"};
  CaptureThreadProc(context);
}

}  // namespace orvanel::bench
