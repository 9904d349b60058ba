// Every packet the socket helper's loop counts, on its way to the caller's
// conversation table: fixed-size records in the shared block, one writer
// (the helper's loop) and one reader (the caller's relay). Packets of one
// flow in one direction that come one after another share a record, so a
// flood costs the way a few records. A record the ring has no room for is
// counted in the block, never waited for.
#pragma once

#include <cstdint>

#include "capture/conversation_table.h"
#include "capture/counted_packet_sink.h"
#include "net/capture_block.h"

namespace orvanel {

class CountedRingWriter final : public CountedPacketSink {
 public:
  explicit CountedRingWriter(CaptureBlock& block) : block_(block) {}
  void Count(const IpHeaderView& view, const ListedRow& row) override;
  // Passes the run being gathered on: before the loop waits for packets,
  // and when it ends.
  void Flush();

 private:
  [[nodiscard]] bool Continues(const IpHeaderView& view, const ListedRow& row) const;

  CaptureBlock& block_;
  std::uint64_t written_ = 0;  // kept here: the caller may write anything into the block
  CountedRecord run_{};        // run_.packets 0: none gathered
};

class CountedRingReader {
 public:
  explicit CountedRingReader(CaptureBlock& block) : block_(block) {}
  // Counts each run passed since the last call in table, in order (with no
  // table they are only taken). False when the ring holds something no
  // writer of ours wrote.
  [[nodiscard]] bool Drain(ConversationTable* table);

 private:
  CaptureBlock& block_;
  std::uint64_t read_ = 0;
};

}  // namespace orvanel
