// Reading a received datagram: header fields at fixed offsets, and the texts
// of one table row.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "capture.h"

namespace orvanel {

// Bytes 0..23 of the buffer, copied once per packet; fields in network order.
struct IpHeaderView {
  std::array<std::uint8_t, 24> bytes;

  std::uint16_t TotalLength() const { return static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]); }
  std::uint8_t Protocol() const { return bytes[9]; }
  // The address as its four bytes stand in the header (network order).
  std::uint32_t SourceAddress() const { return Address(12); }
  std::uint32_t DestinationAddress() const { return Address(16); }

 private:
  std::uint32_t Address(int offset) const {
    std::uint32_t address;
    std::memcpy(&address, bytes.data() + offset, sizeof address);
    return address;
  }
};

// Inline, with Address: they run for every packet.
inline IpHeaderView DecodeHeader(const ReceiveBuffer& buffer) {
  IpHeaderView view;
  std::memcpy(view.bytes.data(), buffer.data(), view.bytes.size());
  return view;
}

// Dotted-decimal text of an address, as inet_ntoa renders it, held inline.
class DottedAddress {
 public:
  std::string_view View() const { return {text_.data(), length_}; }

 private:
  friend DottedAddress AddressText(std::uint32_t networkOrderAddress);
  std::array<char, 16> text_{};
  std::uint8_t length_ = 0;
};

// Thread-safe and allocation-free, unlike inet_ntoa.
DottedAddress AddressText(std::uint32_t networkOrderAddress);

// A 16-bit network-order field of the buffer, as an unsigned value.
std::uint16_t ReadPort(const ReceiveBuffer& buffer, int offset);

// Payload text: the bytes from offset up to the first zero or the buffer end.
std::string_view PayloadText(const ReceiveBuffer& buffer, std::size_t offset);

// The seven texts of one row; views into the buffer and into its own scratch.
struct PacketRow {
  std::array<std::string_view, kPacketColumnCount> columns;
  std::array<char, 24> scratch;  // the decimal texts of the ports and the length
};

// Builds the row of a TCP, UDP or ICMP packet; addresses are the texts the
// loop already made.
void BuildPacketRow(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view,
                    std::string_view sourceText, std::string_view destinationText, PacketRow& row);

// Inserts the row at index 0 and sets its sub-items in column order
// (1..6 for TCP and UDP, 1, 3, 5 for ICMP).
void AddPacketRow(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view,
                  std::string_view sourceText, std::string_view destinationText, PacketTable& table);

}  // namespace orvanel
