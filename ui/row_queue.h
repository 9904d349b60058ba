// The packet table the capture thread fills: rows go to the UI thread through
// a single-producer, single-consumer queue that never blocks the producer.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "capture/capture.h"
#include "packet_record.h"

namespace orvanel {

class PacketStore;

class RowQueue final : public PacketTable {
 public:
  RowQueue();
  ~RowQueue() override;
  RowQueue(const RowQueue&) = delete;
  RowQueue& operator=(const RowQueue&) = delete;

  // Producer side (the capture thread). The table only grows at the top:
  // InsertItem(0, label) starts a row, SetItemText(0, column, text) fills it.
  // Other indexes and columns are ignored. A row is handed over when its last
  // column is set (6 for TCP and UDP, 5 for ICMP, as the loop fills them), or
  // when the next row starts.
  void InsertItem(int index, std::string_view text) override;
  void SetItemText(int item, int column, std::string_view text) override;

  // Hands over a row still being filled. Only while no producer runs (after
  // the capture thread was joined).
  void PublishPending();

  // Consumer side (the UI thread): moves every row handed over so far, oldest
  // first, into store (or drops them when store is null). Returns the count.
  std::size_t DrainInto(PacketStore* store);

 private:
  struct Block;

  void Publish();

  // Producer only.
  Block* tail_;
  bool pending_ = false;
  PacketRecord pendingRecord_;
  std::array<std::uint16_t, kRecordColumns> pendingLengths_{};
  std::array<std::array<char, kMaxColumnText>, kRecordColumns> pendingTexts_;

  // Consumer only.
  Block* head_;
  std::uint32_t headRead_ = 0;
};

}  // namespace orvanel
