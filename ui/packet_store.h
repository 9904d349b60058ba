// The rows of the packet table, oldest first, in fixed-size chunks: records
// in chunks of 4096, their text bytes in chunks of 1 MiB. UI thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "packet_record.h"

namespace orvanel {

class PacketStore {
 public:
  static constexpr std::size_t kChunkRows = 4096;
  static constexpr std::size_t kTextChunkBytes = 1 << 20;

  PacketStore() = default;
  PacketStore(const PacketStore&) = delete;
  PacketStore& operator=(const PacketStore&) = delete;

  // Appends a row; textBlock holds its Text columns (see packet_record.h).
  void Append(const PacketRecord& record, const char* textBlock);
  void Clear();

  std::size_t Size() const { return size_; }
  // The text a row shows in a column; row 0 is the oldest. Compact columns
  // are written into scratch.
  std::string_view ColumnText(std::size_t row, int column, std::array<char, 16>& scratch) const;
  // Bytes held by the chunks.
  std::size_t AllocatedBytes() const;

 private:
  struct RecordChunk {
    PacketRecord records[kChunkRows];
  };
  struct TextChunk {
    char bytes[kTextChunkBytes];
  };

  const PacketRecord& Record(std::size_t row) const { return records_[row / kChunkRows]->records[row % kChunkRows]; }
  const char* TextAt(std::uint64_t offset) const {
    return texts_[offset / kTextChunkBytes]->bytes + offset % kTextChunkBytes;
  }

  std::vector<std::unique_ptr<RecordChunk>> records_;
  std::vector<std::unique_ptr<TextChunk>> texts_;
  std::size_t size_ = 0;
  std::size_t textUsed_ = 0;  // bytes used in the last text chunk
};

}  // namespace orvanel
