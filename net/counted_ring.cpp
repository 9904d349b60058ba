#include "net/counted_ring.h"

#include <algorithm>
#include <cstring>

namespace orvanel {
namespace {

static_assert((kCountedRingRecords & (kCountedRingRecords - 1)) == 0);

// Far beyond any clock, and far enough from the limits that the table's
// differences of two times cannot overflow.
constexpr std::int64_t kLatestTimeNs = std::int64_t{1} << 62;
// The most packets one record holds: the conversations lag the counters by
// no more while a flow runs.
constexpr std::uint32_t kLongestRun = 64;
// A packet's bytes: never more than an IPv4 total length.
constexpr std::uint64_t kLargestPacket = 65535;

bool IsFragment(const IpHeaderView& view) { return (view.Field16(6) & 0x3FFF) != 0; }

}  // namespace

void CountedRingWriter::Count(const IpHeaderView& view, const ListedRow& row) {
  if (run_.packets > 0 && Continues(view, row)) {
    ++run_.packets;
    run_.bytes += row.totalLength;
    run_.captureTimeNs = std::min(run_.captureTimeNs, row.captureTimeNs);
    run_.lastCaptureTimeNs = std::max(run_.lastCaptureTimeNs, row.captureTimeNs);
    if (run_.packets == kLongestRun) Flush();
    return;
  }
  Flush();
  run_ = {view.bytes, row.sourcePort,  row.destinationPort, static_cast<std::uint8_t>(row.hasPorts ? 1 : 0),
          1,          row.totalLength, row.captureTimeNs,   row.captureTimeNs};
  // A fragment is followed by its identification, one by one.
  if (IsFragment(view)) Flush();
}

// The same flow and direction: protocol, addresses and ports; no fragment.
bool CountedRingWriter::Continues(const IpHeaderView& view, const ListedRow& row) const {
  return !IsFragment(view) && view.bytes[9] == run_.header[9] &&
         std::equal(view.bytes.begin() + 12, view.bytes.begin() + 20, run_.header.begin() + 12) &&
         row.hasPorts == (run_.hasPorts != 0) && row.sourcePort == run_.sourcePort &&
         row.destinationPort == run_.destinationPort;
}

void CountedRingWriter::Flush() {
  if (run_.packets == 0) return;
  const std::uint64_t used = written_ - block_.countedRead.load(std::memory_order_acquire);
  if (used >= kCountedRingRecords) {
    block_.countedNotPassed.store(block_.countedNotPassed.load(std::memory_order_relaxed) + run_.packets,
                                  std::memory_order_relaxed);
  } else {
    block_.counted[written_ % kCountedRingRecords] = run_;
    ++written_;
    block_.countedWritten.store(written_, std::memory_order_release);
  }
  run_.packets = 0;
}

// The record is copied out first: the block's pages may change under us.
bool CountedRingReader::Drain(ConversationTable* table) {
  const std::uint64_t written = block_.countedWritten.load(std::memory_order_acquire);
  if (written - read_ > kCountedRingRecords) return false;
  for (; table && read_ != written; ++read_) {
    CountedRecord record;
    std::memcpy(&record, &block_.counted[read_ % kCountedRingRecords], sizeof record);
    if (record.captureTimeNs < 0 || record.captureTimeNs > record.lastCaptureTimeNs ||
        record.lastCaptureTimeNs > kLatestTimeNs || record.packets == 0 || record.packets > kLongestRun ||
        record.bytes > record.packets * kLargestPacket) {
      return false;
    }
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
    table->CountRun(view, row, record.packets, record.bytes, record.lastCaptureTimeNs);
  }
  read_ = written;
  block_.countedRead.store(read_, std::memory_order_release);
  return true;
}

}  // namespace orvanel
