// The shape of the TPACKET_V3 receive ring: set up on the socket by the one
// who opens it, mapped by the one who reads it.
#pragma once

#include <cstddef>

namespace orvanel {

inline constexpr unsigned kRingBlockSize = 1u << 20;
// 64 MiB in all: enough to ride out the page cache's writeback stalls of the
// row spool under a sustained flood of full-size datagrams.
inline constexpr unsigned kRingBlockCount = 64;
inline constexpr unsigned kRingFrameSize = 2048;     // only a unit of accounting in V3
inline constexpr unsigned kRingBlockTimeoutMs = 10;  // a part-filled block is handed over after this
inline constexpr std::size_t kRingBytes = std::size_t{kRingBlockSize} * kRingBlockCount;

}  // namespace orvanel
