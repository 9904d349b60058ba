// A capture session that only counts, for the live benchmarks: nothing is
// listed, and the table takes no row.
#pragma once

#include "session/capture_session.h"

namespace orvanel::bench {

class DiscardingTable final : public PacketTable {
 public:
  void AddRow(const ListedRow&) override {}
};

struct CountingSession {
  PacketCounters counters;
  const AtomicCaptureOptions nothingListed{};
  DiscardingTable table;
  CaptureSession session{counters, nothingListed, table, "."};
};

}  // namespace orvanel::bench
