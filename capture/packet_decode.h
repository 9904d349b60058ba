// Reading a received datagram: header fields at fixed offsets.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "capture/big_endian.h"
#include "capture/packet_source.h"

namespace orvanel {

// Bytes 0..23 of the buffer, copied once per packet; fields in network order.
struct IpHeaderView {
  std::array<std::uint8_t, 24> bytes;

  [[nodiscard]] std::uint16_t TotalLength() const { return Field16(2); }
  [[nodiscard]] std::uint8_t Protocol() const { return bytes[9]; }
  // The address as its four bytes stand in the header (network order).
  [[nodiscard]] std::uint32_t SourceAddress() const { return Address(12); }
  [[nodiscard]] std::uint32_t DestinationAddress() const { return Address(16); }
  // The 16-bit field at offset, as an unsigned value.
  [[nodiscard]] std::uint16_t Field16(int offset) const {
    return ReadBigEndian16(bytes, static_cast<std::size_t>(offset));
  }

 private:
  [[nodiscard]] std::uint32_t Address(int offset) const {
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
inline IpHeaderView DecodeHeader(std::span<const std::uint8_t> datagram) {
  IpHeaderView view{};
  if (datagram.size() >= view.bytes.size()) {
    std::memcpy(view.bytes.data(), datagram.data(), view.bytes.size());  // the usual case, of fixed length
  } else if (!datagram.empty()) {
    std::memcpy(view.bytes.data(), datagram.data(), datagram.size());
  }
  return view;
}

// Payload text: the bytes from offset up to the first zero or the datagram end.
std::string_view PayloadText(std::span<const std::uint8_t> datagram, std::size_t offset);

}  // namespace orvanel
