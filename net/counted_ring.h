// Every packet the socket helper's loop counts, on its way to the caller's
// conversation table: fixed-size records in the shared block, one writer
// (the helper's loop) and one reader (the caller's relay). A record the
// ring has no room for is counted in the block, never waited for.
#pragma once

#include <cstdint>
#include <functional>

#include "capture/counted_packet_sink.h"
#include "net/capture_block.h"

namespace orvanel {

class CountedRingWriter final : public CountedPacketSink {
 public:
  explicit CountedRingWriter(CaptureBlock& block) : block_(block) {}
  void Count(const IpHeaderView& view, const ListedRow& row) override;

 private:
  CaptureBlock& block_;
  std::uint64_t written_ = 0;  // kept here: the caller may write anything into the block
};

class CountedRingReader {
 public:
  explicit CountedRingReader(CaptureBlock& block) : block_(block) {}
  // Hands each packet counted since the last call to sink, in order (with
  // no sink they are only taken). False when the ring holds something no
  // writer of ours wrote.
  [[nodiscard]] bool Drain(CountedPacketSink* sink);

 private:
  CaptureBlock& block_;
  std::uint64_t read_ = 0;
};

}  // namespace orvanel
