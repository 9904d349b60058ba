// How a list's rows lie in its two files: each datagram appended to a data
// file, and a fixed-size entry for each row in an index file. Shared by the
// spool (storage/spool_files.h) and the socket helper, which appends a
// caller's rows to its files itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvanel {

// Address space only, never committed: room for about 190 million full-size
// rows, or 700 million small ones; past that, rows count as not listed. A
// ThreadSanitizer build leaves about 3.5 TiB to mappings on x86_64, room for
// a dozen spools of 272 GiB at once.
inline constexpr std::size_t kSpoolDataReservation = std::size_t{256} << 30;
inline constexpr std::size_t kSpoolIndexReservation = std::size_t{16} << 30;

// One row in the index file.
struct SpoolIndexEntry {
  std::uint64_t offset;  // of its bytes in the data file
  std::int64_t captureTimeNs;
  std::uint32_t length;
  std::uint32_t reserved;
};
static_assert(sizeof(SpoolIndexEntry) == 24);

}  // namespace orvanel
