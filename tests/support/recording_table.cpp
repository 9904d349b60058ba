#include "tests/support/recording_table.h"

#include <algorithm>

#include "capture/packet_row.h"

namespace orvanel::test {

void RecordingTable::AddRow(const ListedRow& row) {
  PacketRow texts;
  BuildPacketRow(row, texts);
  RecordedRow recorded(texts.columns.begin(), texts.columns.end());
  std::lock_guard lock(mutex_);
  rows_.push_front(std::move(recorded));
}

std::deque<RecordedRow> RecordingTable::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

int RecordingTable::CountRows(std::string_view protocol, int column, std::string_view text) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [&](const RecordedRow& row) {
    return row[0] == protocol && row[static_cast<std::size_t>(column)] == text;
  }));
}

}  // namespace orvanel::test
