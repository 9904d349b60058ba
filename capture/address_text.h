// The dotted-decimal text of an IPv4 address, made without the C library.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orvanel {

// Dotted-decimal text of an address, as inet_ntoa renders it, held inline.
class DottedAddress {
 public:
  [[nodiscard]] std::string_view View() const { return {text_.data(), length_}; }

 private:
  friend DottedAddress AddressText(std::uint32_t networkOrderAddress);
  std::array<char, 16> text_{};
  std::uint8_t length_ = 0;
};

// Thread-safe and allocation-free, unlike inet_ntoa.
DottedAddress AddressText(std::uint32_t networkOrderAddress);

}  // namespace orvanel
