// A datagram's headers field by field, decoded by their real lengths, for the
// details window. Whatever the bytes, every field within them is shown and
// every field past them is marked missing; nothing is read beyond the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvanel {

// The value a field has when its bytes were not received.
inline constexpr const char* kMissingValue = "缺失";

struct DetailField {
  std::string label;
  std::string value;
  bool fault = false;  // missing, or disagreeing with the rest of the datagram
  std::vector<DetailField> parts;  // options, one each
};

struct DetailLayer {
  std::string title;
  std::vector<DetailField> fields;
};

// The IPv4 header, then the TCP, UDP or ICMP header (or what the datagram
// carries instead), then its data.
std::vector<DetailLayer> DescribeDatagram(std::span<const std::uint8_t> datagram);

// Every byte: the offset, 16 bytes a line in hex, and the printable ASCII
// beside them ('.' for the rest). Lines end in '\n'.
std::string HexDump(std::span<const std::uint8_t> bytes);

// Chinese names of ICMP types and codes; "未知类型" and the like otherwise.
std::string IcmpTypeName(std::uint8_t type);
std::string IcmpCodeName(std::uint8_t type, std::uint8_t code);

}  // namespace orvanel
