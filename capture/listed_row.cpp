#include "capture/listed_row.h"

#include "capture/big_endian.h"
#include "capture/packet_decode.h"

namespace orvanel {
namespace {

constexpr std::size_t kMinimumIpHeader = 20;
constexpr std::size_t kMinimumTcpHeader = 20;
constexpr std::size_t kUdpHeader = 8;
constexpr std::size_t kTcpDataOffsetByte = 12;

// Sets the ports and the payload's place of a TCP or UDP datagram from its
// real header lengths. Bytes that are not there leave a field empty; nothing
// is read past the datagram.
void LocateTransport(const IpHeaderView& view, std::span<const std::uint8_t> datagram, ListedRow& row) {
  const std::size_t headerLength = (view.bytes[0] & 0x0Fu) * 4u;
  std::size_t end = datagram.size();
  // The bytes past a total length that covers the header are not the datagram's.
  if (view.TotalLength() >= headerLength && view.TotalLength() < end) end = view.TotalLength();
  if (headerLength < kMinimumIpHeader || headerLength > end) return;
  row.payloadEnd = static_cast<std::uint16_t>(end);
  row.payloadBegin = row.payloadEnd;  // empty until found
  if ((view.Field16(6) & 0x1FFF) != 0) {
    row.payloadBegin = static_cast<std::uint16_t>(headerLength);  // a later fragment: all of it is data
    return;
  }
  if (end < headerLength + 4) return;
  row.hasPorts = true;
  row.sourcePort = ReadBigEndian16(datagram, headerLength);
  row.destinationPort = ReadBigEndian16(datagram, headerLength + 2);
  std::size_t begin = end;
  if (row.protocol == ProtocolClass::UDP) {
    begin = headerLength + kUdpHeader;
  } else if (end > headerLength + kTcpDataOffsetByte) {
    const std::size_t tcpHeader = (datagram[headerLength + kTcpDataOffsetByte] >> 4) * 4u;
    if (tcpHeader >= kMinimumTcpHeader) begin = headerLength + tcpHeader;
  }
  if (begin <= end) row.payloadBegin = static_cast<std::uint16_t>(begin);
}

}  // namespace

ListedRow ListedRowOf(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  return ListedRowOf(DecodeHeader(datagram), datagram, captureTimeNs);
}

ListedRow ListedRowOf(const IpHeaderView& view, std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  ListedRow row;
  row.protocol = ClassOfProtocol(view.Protocol());
  row.source = view.SourceAddress();
  row.destination = view.DestinationAddress();
  row.totalLength = view.TotalLength();
  row.datagram = datagram;
  row.captureTimeNs = captureTimeNs;
  if (row.protocol == ProtocolClass::TCP || row.protocol == ProtocolClass::UDP) LocateTransport(view, datagram, row);
  return row;
}

}  // namespace orvanel
