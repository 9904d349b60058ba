// One listed packet as the capture loop hands it to a table: typed fields and
// the received bytes. Texts are made only where a row is shown or printed.
#pragma once

#include <cstdint>
#include <span>

#include "capture/protocol.h"

namespace orvanel {

struct ListedRow {
  ProtocolClass protocol = ProtocolClass::OTHER;
  std::uint32_t source = 0;  // address octets in header order
  std::uint32_t destination = 0;
  bool hasPorts = false;  // TCP or UDP, ports received, not a later fragment
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  std::uint16_t totalLength = 0;  // the header's field, which may disagree with the bytes
  // Where the payload text may run: from its start as the headers say up to
  // the datagram's end (cut at a valid total length); empty when there is none.
  std::uint16_t payloadBegin = 0;
  std::uint16_t payloadEnd = 0;
  std::span<const std::uint8_t> datagram;  // the received bytes, at most a receive buffer
  std::int64_t captureTimeNs = 0;          // since the epoch; 0 when unknown
};

struct IpHeaderView;

// The row of one datagram's bytes; bytes past the end read as zero.
ListedRow ListedRowOf(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs);
// The same from a header view already decoded from those bytes.
ListedRow ListedRowOf(const IpHeaderView& view, std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs);

// Where listed rows go. AddRow is called from the capture thread; the row's
// bytes are valid only during the call.
class PacketTable {
 public:
  virtual ~PacketTable() = default;
  virtual void AddRow(const ListedRow& row) = 0;
};

}  // namespace orvanel
