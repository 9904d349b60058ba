// A packet table that keeps every row; the capture thread fills it while the
// test reads it.
#pragma once

#include <array>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "capture/capture_options.h"
#include "capture/packet_decode.h"
#include "capture/listed_row.h"

namespace orvanel::test {

using RecordedRow = std::array<std::string, kPacketColumnCount>;

class RecordingTable final : public PacketTable {
 public:
  void AddRow(const ListedRow& row) override;

  std::deque<RecordedRow> Rows() const;  // top row first
  // Rows whose protocol column and the given column hold the texts.
  int CountRows(std::string_view protocol, int column, std::string_view text) const;

 private:
  mutable std::mutex mutex_;
  std::deque<RecordedRow> rows_;
};

// Ticks every enable and protocol box and the save box.
void TickEveryBox(AtomicCaptureOptions& options);

}  // namespace orvanel::test
