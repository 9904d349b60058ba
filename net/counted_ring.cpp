#include "net/counted_ring.h"

#include <cstring>

namespace orvanel {
namespace {

static_assert((kCountedRingRecords & (kCountedRingRecords - 1)) == 0);

// Far beyond any clock, and far enough from the limits that the table's
// differences of two times cannot overflow.
constexpr std::int64_t kLatestTimeNs = std::int64_t{1} << 62;

}  // namespace

void CountedRingWriter::Count(const IpHeaderView& view, const ListedRow& row) {
  const std::uint64_t used = written_ - block_.countedRead.load(std::memory_order_acquire);
  if (used >= kCountedRingRecords) {
    block_.countedNotPassed.store(block_.countedNotPassed.load(std::memory_order_relaxed) + 1,
                                  std::memory_order_relaxed);
    return;
  }
  CountedRecord& record = block_.counted[written_ % kCountedRingRecords];
  record.header = view.bytes;
  record.sourcePort = row.sourcePort;
  record.destinationPort = row.destinationPort;
  record.hasPorts = row.hasPorts ? 1 : 0;
  record.captureTimeNs = row.captureTimeNs;
  ++written_;
  block_.countedWritten.store(written_, std::memory_order_release);
}

// The record is copied out first: the block's pages may change under us.
bool CountedRingReader::Drain(CountedPacketSink* sink) {
  const std::uint64_t written = block_.countedWritten.load(std::memory_order_acquire);
  if (written - read_ > kCountedRingRecords) return false;
  for (; sink && read_ != written; ++read_) {
    CountedRecord record;
    std::memcpy(&record, &block_.counted[read_ % kCountedRingRecords], sizeof record);
    if (record.captureTimeNs < 0 || record.captureTimeNs > kLatestTimeNs) return false;
    IpHeaderView view;
    view.bytes = record.header;
    ListedRow row;
    row.source = view.SourceAddress();
    row.destination = view.DestinationAddress();
    row.totalLength = view.TotalLength();
    row.hasPorts = record.hasPorts != 0;
    row.sourcePort = record.sourcePort;
    row.destinationPort = record.destinationPort;
    row.captureTimeNs = record.captureTimeNs;
    sink->Count(view, row);
  }
  read_ = written;
  block_.countedRead.store(read_, std::memory_order_release);
  return true;
}

}  // namespace orvanel
