// The Internet checksum (RFC 1071) of IPv4 headers and TCP segments.
#pragma once

#include <cstdint>
#include <span>

#include "capture/big_endian.h"

namespace orvanel {

// The one's-complement sum of bytes as 16-bit words (an odd last byte padded
// with zero), added to sum, folded to 16 bits.
constexpr std::uint32_t OnesComplementSum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0) {
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) sum += ReadBigEndian16(bytes, at);
  if (bytes.size() % 2 != 0) sum += std::uint32_t{bytes.back()} << 8;
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum;
}

// The checksum field a header should hold, from the sum of its words with
// the field itself among them.
constexpr std::uint16_t ExpectedChecksum(std::uint32_t sumWithField, std::uint16_t field) {
  // Taking the field back out of a one's-complement sum is adding its complement.
  std::uint32_t sum = sumWithField + static_cast<std::uint16_t>(~field);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace orvanel
