// Reading a received datagram: header fields at fixed offsets, and the texts
// of one table row.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "big_endian.h"
#include "listed_row.h"
#include "packet_source.h"

namespace orvanel {

// Bytes 0..23 of the buffer, copied once per packet; fields in network order.
struct IpHeaderView {
  std::array<std::uint8_t, 24> bytes;

  std::uint16_t TotalLength() const { return Field16(2); }
  std::uint8_t Protocol() const { return bytes[9]; }
  // The address as its four bytes stand in the header (network order).
  std::uint32_t SourceAddress() const { return Address(12); }
  std::uint32_t DestinationAddress() const { return Address(16); }
  // The 16-bit field at offset, as an unsigned value.
  std::uint16_t Field16(int offset) const { return ReadBigEndian16(bytes, static_cast<std::size_t>(offset)); }

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

// Bytes 0..23 of a datagram of any length; bytes past its end read as zero.
IpHeaderView DecodeHeader(std::span<const std::uint8_t> datagram);

// Payload text: the bytes from offset up to the first zero or the datagram end.
std::string_view PayloadText(std::span<const std::uint8_t> datagram, std::size_t offset);

// Columns of the packet table: protocol, source, port, destination, port,
// length, payload.
inline constexpr int kPacketColumnCount = 7;

// The seven texts of one row; views into the datagram and into its own scratch.
struct PacketRow {
  std::array<std::string_view, kPacketColumnCount> columns;
  std::array<char, 64> scratch;  // the addresses and the decimal texts of the ports and the length
};

// The texts the table shows for a listed row: ICMP rows have no ports and no
// payload. One formatter for the dialog and the command line.
void BuildPacketRow(const ListedRow& row, PacketRow& texts);

}  // namespace orvanel
