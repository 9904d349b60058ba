#include "recording_table.h"

#include <algorithm>

#include "capture/packet_decode.h"

namespace orvanel::test {

void RecordingTable::AddRow(const ListedRow& row) {
  PacketRow texts;
  BuildPacketRow(row, texts);
  RecordedRow recorded;
  for (int column = 0; column < kPacketColumnCount; ++column) recorded[column] = texts.columns[column];
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

void TickEveryBox(AtomicCaptureOptions& options) {
  for (int option = 0; option < kCaptureOptionCount; ++option) {
    options.Set(static_cast<CaptureOption>(option), kChecked);
  }
}

}  // namespace orvanel::test
