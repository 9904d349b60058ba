#include "net/row_ring.h"

#include <cstring>

#include "capture/packet_source.h"

namespace orvanel {
namespace {

// Each row: this header, then its bytes, padded so every header starts on a
// 16-byte boundary; a row that does not fit before the ring's end leaves a
// skip header there and starts at the beginning.
struct RowHeader {
  std::uint32_t length;
  std::uint32_t skip;
  std::int64_t captureTimeNs;
};
static_assert(sizeof(RowHeader) == 16 && kRowRingBytes % 16 == 0 && (kRowRingBytes & (kRowRingBytes - 1)) == 0);

std::size_t RecordBytes(std::size_t length) { return sizeof(RowHeader) + (length + 15) / 16 * 16; }

}  // namespace

void RowRingWriter::AddRow(const ListedRow& row) {
  const std::size_t length = row.datagram.size();
  const std::size_t record = RecordBytes(length);
  const std::size_t offset = written_ % kRowRingBytes;
  const std::size_t toEnd = kRowRingBytes - offset;
  const std::size_t taken = record <= toEnd ? record : toEnd + record;
  const std::uint64_t used = written_ - block_.ringRead.load(std::memory_order_acquire);
  if (used > kRowRingBytes || kRowRingBytes - used < taken) {
    block_.rowsNotPassed.store(block_.rowsNotPassed.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return;
  }
  std::uint8_t* at = block_.ring + offset;
  if (record > toEnd) {
    const RowHeader skip{0, 1, 0};
    std::memcpy(at, &skip, sizeof skip);
    at = block_.ring;
  }
  const RowHeader header{static_cast<std::uint32_t>(length), 0, row.captureTimeNs};
  std::memcpy(at, &header, sizeof header);
  if (length > 0) std::memcpy(at + sizeof header, row.datagram.data(), length);
  written_ += taken;
  block_.ringWritten.store(written_, std::memory_order_release);
}

bool RowRingReader::Drain(const Take& take) {
  const std::uint64_t written = block_.ringWritten.load(std::memory_order_acquire);
  while (read_ != written) {
    const std::size_t offset = read_ % kRowRingBytes;
    RowHeader header;
    std::memcpy(&header, block_.ring + offset, sizeof header);
    const std::uint64_t left = written - read_;
    if (header.skip != 0) {
      if (left < kRowRingBytes - offset) return false;
      read_ += kRowRingBytes - offset;
      continue;
    }
    const std::size_t record = RecordBytes(header.length);
    if (header.length > kReceiveBufferSize || left < record || record > kRowRingBytes - offset) return false;
    take({block_.ring + offset + sizeof header, header.length}, header.captureTimeNs);
    read_ += record;
    block_.ringRead.store(read_, std::memory_order_release);
  }
  block_.ringRead.store(read_, std::memory_order_release);
  return true;
}

}  // namespace orvanel
