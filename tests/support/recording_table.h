// A packet table that keeps every row as the texts the shared formatter makes;
// a capture thread may fill it while the test reads it.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "capture/listed_row.h"
#include "capture/packet_decode.h"

namespace orvanel::test {

using RecordedRow = std::vector<std::string>;  // one text per column

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

}  // namespace orvanel::test
