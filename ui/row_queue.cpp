#include "row_queue.h"

#include <cstring>

#include "packet_store.h"

namespace orvanel {
namespace {

constexpr std::uint32_t kBlockRows = 1024;
constexpr std::size_t kBlockBytes = 64 * 1024;
constexpr std::size_t kLongestRowText = kRecordColumns * (kTextLengthBytes + kMaxColumnText);
static_assert(kBlockBytes >= kLongestRowText);

// The column whose setting completes a row of this label, or -1 if unknown.
int LastColumn(const PacketRecord& record) {
  if (record.Kind(0) != ColumnKind::Compact) return -1;
  return static_cast<ProtocolClass>(record.Label()) == ProtocolClass::ICMP ? 5 : 6;
}

}  // namespace

// Rows and their text bytes. The producer fills a block and publishes each row
// with a release store of the count; it links the next block only after the
// last row of this one, so a consumer that sees next set sees the final count.
struct RowQueue::Block {
  std::atomic<std::uint32_t> published{0};
  std::atomic<Block*> next{nullptr};
  std::size_t bytesUsed = 0;  // producer only
  std::array<PacketRecord, kBlockRows> rows;
  std::array<char, kBlockBytes> bytes;
};

RowQueue::RowQueue() : tail_(new Block), head_(tail_) {}

RowQueue::~RowQueue() {
  while (head_) {
    Block* next = head_->next.load(std::memory_order_acquire);
    delete head_;
    head_ = next;
  }
}

void RowQueue::InsertItem(int index, std::string_view text) {
  if (index != 0) return;
  if (pending_) Publish();
  pending_ = true;
  pendingRecord_ = PacketRecord{};
  SetItemText(0, 0, text);
}

void RowQueue::SetItemText(int item, int column, std::string_view text) {
  if (item != 0 || !pending_ || column < 0 || column >= kRecordColumns) return;
  const std::string_view kept = StoreColumn(pendingRecord_, column, text);
  if (!kept.empty()) std::memcpy(pendingTexts_[column].data(), kept.data(), kept.size());
  pendingLengths_[column] = static_cast<std::uint16_t>(kept.size());
  if (column == LastColumn(pendingRecord_)) Publish();
}

void RowQueue::PublishPending() {
  if (pending_) Publish();
}

void RowQueue::Publish() {
  pending_ = false;
  std::size_t textBytes = 0;
  for (int column = 0; column < kRecordColumns; ++column) {
    if (pendingRecord_.Kind(column) == ColumnKind::Text) textBytes += kTextLengthBytes + pendingLengths_[column];
  }
  std::uint32_t row = tail_->published.load(std::memory_order_relaxed);
  if (row == kBlockRows || tail_->bytesUsed + textBytes > kBlockBytes) {
    Block* fresh = new Block;
    tail_->next.store(fresh, std::memory_order_release);
    tail_ = fresh;
    row = 0;
  }
  PacketRecord& record = tail_->rows[row];
  record = pendingRecord_;
  record.textOffset = tail_->bytesUsed;
  char* out = tail_->bytes.data() + tail_->bytesUsed;
  for (int column = 0; column < kRecordColumns; ++column) {
    if (record.Kind(column) != ColumnKind::Text) continue;
    std::memcpy(out, &pendingLengths_[column], kTextLengthBytes);
    std::memcpy(out + kTextLengthBytes, pendingTexts_[column].data(), pendingLengths_[column]);
    out += kTextLengthBytes + pendingLengths_[column];
  }
  tail_->bytesUsed += textBytes;
  tail_->published.store(row + 1, std::memory_order_release);
}

std::size_t RowQueue::DrainInto(PacketStore* store) {
  std::size_t moved = 0;
  for (;;) {
    const std::uint32_t published = head_->published.load(std::memory_order_acquire);
    for (; headRead_ < published; ++headRead_, ++moved) {
      const PacketRecord& record = head_->rows[headRead_];
      if (store) store->Append(record, head_->bytes.data() + record.textOffset);
    }
    Block* next = head_->next.load(std::memory_order_acquire);
    if (!next) return moved;
    if (head_->published.load(std::memory_order_acquire) != headRead_) continue;
    delete head_;
    head_ = next;
    headRead_ = 0;
  }
}

}  // namespace orvanel
