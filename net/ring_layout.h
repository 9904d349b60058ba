// The shape of the TPACKET_V3 receive ring: set up on the socket by the one
// who opens it, mapped by the one who reads it.
#pragma once

#include <cstddef>

namespace orvanel {

inline constexpr unsigned kRingBlockSize = 1u << 20;
inline constexpr unsigned kRingBlockCount = 16;  // 16 MiB in all
inline constexpr unsigned kRingFrameSize = 2048;  // only a unit of accounting in V3
inline constexpr unsigned kRingBlockTimeoutMs = 10;  // a part-filled block is handed over after this
inline constexpr std::size_t kRingBytes = std::size_t{kRingBlockSize} * kRingBlockCount;

}  // namespace orvanel
