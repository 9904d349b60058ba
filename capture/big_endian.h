// Fields in network byte order, read the one way every decoder uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvanel {

// The 16-bit field at offset; the caller has checked that both bytes are there.
constexpr std::uint16_t ReadBigEndian16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

// The value of count bytes (at most 4) at offset, most significant first;
// the caller has checked that they are there.
constexpr std::uint32_t ReadBigEndian(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = value << 8 | bytes[offset + i];
  return value;
}

}  // namespace orvanel
