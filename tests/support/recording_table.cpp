#include "recording_table.h"

#include <algorithm>

namespace orvanel::test {

void RecordingTable::InsertItem(int index, std::string_view text) {
  std::lock_guard lock(mutex_);
  RecordedRow row;
  row[0] = text;
  rows_.insert(rows_.begin() + std::clamp<long>(index, 0, static_cast<long>(rows_.size())), std::move(row));
}

void RecordingTable::SetItemText(int item, int column, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (item >= 0 && static_cast<std::size_t>(item) < rows_.size() && column >= 0 && column < kPacketColumnCount) {
    rows_[static_cast<std::size_t>(item)][static_cast<std::size_t>(column)] = text;
  }
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
