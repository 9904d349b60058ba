// Resident memory of this process, for bytes-per-row figures.
#pragma once

#include <cstddef>

namespace orvanel::bench {

// Resident bytes now, from /proc/self/statm; 0 when it cannot be read.
std::size_t ResidentBytes();

}  // namespace orvanel::bench
