#include "capture/address_text.h"

#include <cstring>

namespace orvanel {
namespace {

// An octet's digits followed by its point, so one 4-byte copy writes both.
struct OctetText {
  char text[4];
  std::uint8_t length;  // with the point
};

constexpr std::array<OctetText, 256> MakeOctetTexts() {
  std::array<OctetText, 256> table{};
  for (int value = 0; value < 256; ++value) {
    OctetText& octet = table[value];
    if (value >= 100) {
      octet = {{char('0' + value / 100), char('0' + value / 10 % 10), char('0' + value % 10), '.'}, 4};
    } else if (value >= 10) {
      octet = {{char('0' + value / 10), char('0' + value % 10), '.', 0}, 3};
    } else {
      octet = {{char('0' + value), '.', 0, 0}, 2};
    }
  }
  return table;
}
constexpr std::array<OctetText, 256> kOctetTexts = MakeOctetTexts();

}  // namespace

DottedAddress AddressText(std::uint32_t networkOrderAddress) {
  std::uint8_t octets[4];
  std::memcpy(octets, &networkOrderAddress, sizeof octets);
  DottedAddress dotted;
  char* out = dotted.text_.data();
  for (const std::uint8_t value : octets) {
    const OctetText& octet = kOctetTexts[value];
    std::memcpy(out, octet.text, 4);  // at most 12 + 4 bytes: the text has room
    out += octet.length;
  }
  dotted.length_ = static_cast<std::uint8_t>(out - dotted.text_.data() - 1);  // without the last point
  return dotted;
}

}  // namespace orvanel
