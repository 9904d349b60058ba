#include "storage/spool_files.h"

#include <cstring>

namespace orvanel {
namespace {

// Address space only, never committed: room for about 190 million full-size
// rows, or 700 million small ones; past that, rows count as not listed. A
// ThreadSanitizer build leaves about 3.5 TiB to mappings on x86_64, room for
// a dozen spools of 272 GiB at once.
constexpr std::size_t kDataReservation = std::size_t{256} << 30;
constexpr std::size_t kIndexReservation = std::size_t{16} << 30;
constexpr std::size_t kDataChunk = std::size_t{16} << 20;
constexpr std::size_t kIndexChunk = std::size_t{1} << 20;
constexpr std::uint32_t kRefusalsBetweenChecks = 4096;  // while full, how often free space is looked at again

// One row in the index file.
struct IndexEntry {
  std::uint64_t offset;  // of its bytes in the data file
  std::int64_t captureTimeNs;
  std::uint32_t length;
  std::uint32_t reserved;
};
static_assert(sizeof(IndexEntry) == 24);

}  // namespace

std::unique_ptr<SpoolFiles> SpoolFiles::Open(const std::string& directory, FreeSpaceRule rule) {
  // Threads of the files' own take the next chunks, so the writer does not fault.
  auto data = MappedFile::Open(directory, kDataReservation, kDataChunk, rule, MappedFile::Ahead::Yes);
  auto index =
      data ? MappedFile::Open(directory, kIndexReservation, kIndexChunk, rule, MappedFile::Ahead::Yes) : nullptr;
  if (!index) return nullptr;
  return std::unique_ptr<SpoolFiles>(new SpoolFiles(std::move(data), std::move(index)));
}

SpoolFiles::Appended SpoolFiles::Append(const ListedRow& row) {
  const std::size_t rows = published_.load(std::memory_order_relaxed);
  const std::size_t length = row.datagram.size();
  const bool ready = data_->Holds(dataUsed_ + length) && index_->Holds((rows + 1) * sizeof(IndexEntry));
  if (!MakeRoom(rows + 1, dataUsed_ + length)) return Appended::NoRoom;
  if (length > 0) std::memcpy(data_->Base() + dataUsed_, row.datagram.data(), length);
  reinterpret_cast<IndexEntry*>(index_->Base())[rows] = {dataUsed_, row.captureTimeNs,
                                                         static_cast<std::uint32_t>(length), 0};
  dataUsed_ += length;
  published_.store(rows + 1, std::memory_order_release);
  return ready ? Appended::Yes : Appended::AfterWaiting;
}

bool SpoolFiles::MakeRoom(std::size_t rows, std::size_t dataBytes) {
  if (full_ && ++refusedSinceCheck_ < kRefusalsBetweenChecks) return false;
  full_ = data_->Grow(dataBytes) != 0 || index_->Grow(rows * sizeof(IndexEntry)) != 0;
  refusedSinceCheck_ = 0;
  return !full_;
}

SpoolFiles::StoredRow SpoolFiles::Row(std::size_t index) const {
  const IndexEntry& entry = reinterpret_cast<const IndexEntry*>(index_->Base())[index];
  return {{data_->Base() + entry.offset, entry.length}, entry.captureTimeNs};
}

}  // namespace orvanel
