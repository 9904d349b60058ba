#include "packet_store.h"

#include <cstring>

namespace orvanel {

void PacketStore::Append(const PacketRecord& record, const char* textBlock) {
  if (size_ == records_.size() * kChunkRows) records_.push_back(std::make_unique_for_overwrite<RecordChunk>());
  PacketRecord& stored = records_[size_ / kChunkRows]->records[size_ % kChunkRows];
  stored = record;
  // A row's texts never straddle two chunks.
  const std::size_t textBytes = TextBlockSize(record, textBlock);
  if (textBytes > 0) {
    if (texts_.empty() || textUsed_ + textBytes > kTextChunkBytes) {
      texts_.push_back(std::make_unique_for_overwrite<TextChunk>());
      textUsed_ = 0;
    }
    std::memcpy(texts_.back()->bytes + textUsed_, textBlock, textBytes);
    stored.textOffset = (texts_.size() - 1) * kTextChunkBytes + textUsed_;
    textUsed_ += textBytes;
  }
  ++size_;
}

void PacketStore::Clear() {
  records_.clear();
  records_.shrink_to_fit();
  texts_.clear();
  texts_.shrink_to_fit();
  size_ = 0;
  textUsed_ = 0;
}

std::string_view PacketStore::ColumnText(std::size_t row, int column, std::array<char, 16>& scratch) const {
  const PacketRecord& record = Record(row);
  if (record.Kind(column) == ColumnKind::Text) return TextColumn(record, TextAt(record.textOffset), column);
  return CompactColumnText(record, column, scratch);
}

std::size_t PacketStore::AllocatedBytes() const {
  return records_.capacity() * sizeof(records_[0]) + records_.size() * sizeof(RecordChunk) +
         texts_.capacity() * sizeof(texts_[0]) + texts_.size() * sizeof(TextChunk);
}

}  // namespace orvanel
