// A datagram's headers field by field, decoded by their real lengths, for the
// details window. Whatever the bytes, every field within them is given and
// every field past them is marked missing; nothing is read beyond the bytes.
// The decoder gives ids and numbers; the window puts them into words.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/detail_layer.h"

namespace orvanel {

// The IPv4 header, then the TCP, UDP or ICMP header (or what the datagram
// carries instead), then its data.
std::vector<DetailLayer> DescribeDatagram(std::span<const std::uint8_t> datagram);

// Every byte: the offset, 16 bytes a line in hex, and the printable ASCII
// beside them ('.' for the rest). Lines end in '\n'.
std::string HexDump(std::span<const std::uint8_t> bytes);

}  // namespace orvanel
