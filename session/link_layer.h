// Finding the IPv4 datagram in one captured frame, by link type.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace orvanel {

// Whether frames of this libpcap link type (DLT_*) can be read.
bool IsSupportedLinkType(int linkType);

// The IPv4 datagram a frame carries, or none (another protocol, or a frame
// too short for its link header). Link padding past the datagram's total
// length is dropped.
std::optional<std::span<const std::uint8_t>> DatagramOf(int linkType, std::span<const std::uint8_t> frame);

}  // namespace orvanel
