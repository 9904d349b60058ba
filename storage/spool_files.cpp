#include "storage/spool_files.h"

#include <cstring>

#include "capture/spool_layout.h"

namespace orvanel {
namespace {

constexpr std::size_t kDataChunk = std::size_t{16} << 20;
constexpr std::size_t kIndexChunk = std::size_t{1} << 20;
constexpr std::uint32_t kRefusalsBetweenChecks = 4096;  // while full, how often free space is looked at again

}  // namespace

std::unique_ptr<SpoolFiles> SpoolFiles::Open(const std::string& directory, FreeSpaceRule rule) {
  // Threads of the files' own take the next chunks, so the writer does not fault.
  auto data = MappedFile::Open(directory, kSpoolDataReservation, kDataChunk, rule, MappedFile::Ahead::Yes);
  auto index =
      data ? MappedFile::Open(directory, kSpoolIndexReservation, kIndexChunk, rule, MappedFile::Ahead::Yes) : nullptr;
  if (!index) return nullptr;
  return std::unique_ptr<SpoolFiles>(new SpoolFiles(std::move(data), std::move(index)));
}

SpoolFiles::Appended SpoolFiles::Append(const ListedRow& row) {
  const std::size_t rows = published_.load(std::memory_order_relaxed);
  const std::size_t length = row.datagram.size();
  const bool ready = data_->Holds(dataUsed_ + length) && index_->Holds((rows + 1) * sizeof(SpoolIndexEntry));
  if (!MakeRoom(rows + 1, dataUsed_ + length)) return Appended::NoRoom;
  if (length > 0) std::memcpy(data_->Base() + dataUsed_, row.datagram.data(), length);
  reinterpret_cast<SpoolIndexEntry*>(index_->Base())[rows] = {dataUsed_, row.captureTimeNs,
                                                              static_cast<std::uint32_t>(length), 0};
  dataUsed_ += length;
  published_.store(rows + 1, std::memory_order_release);
  return ready ? Appended::Yes : Appended::AfterWaiting;
}

bool SpoolFiles::MakeRoom(std::size_t rows, std::size_t dataBytes) {
  if (full_ && ++refusedSinceCheck_ < kRefusalsBetweenChecks) return false;
  full_ = data_->Grow(dataBytes) != 0 || index_->Grow(rows * sizeof(SpoolIndexEntry)) != 0;
  refusedSinceCheck_ = 0;
  return !full_;
}

SpoolFiles::Room SpoolFiles::KeepRoomAhead() {
  // The files' threads keep three chunks or more ahead of the rows published: a
  // few hundred milliseconds of rows at a full-size flood. Short of room (the
  // file system filled up), the other writer counts what does not fit.
  const std::size_t rows = published_.load(std::memory_order_relaxed);
  data_->AskAhead(dataUsed_ + kDataChunk);
  index_->AskAhead((rows + 1) * sizeof(SpoolIndexEntry) + kIndexChunk);
  return {data_->Mapped(), index_->Mapped()};
}

bool SpoolFiles::Publish(std::size_t rows) {
  const std::size_t published = published_.load(std::memory_order_relaxed);
  if (rows < published || rows * sizeof(SpoolIndexEntry) > index_->Mapped()) return false;
  const auto* entries = reinterpret_cast<const SpoolIndexEntry*>(index_->Base());
  std::size_t used = dataUsed_;
  for (std::size_t row = published; row < rows; ++row) {
    const SpoolIndexEntry entry = entries[row];
    if (entry.offset != used || entry.length > data_->Mapped() - used) return false;
    used += entry.length;
  }
  dataUsed_ = used;
  published_.store(rows, std::memory_order_release);
  return true;
}

SpoolFiles::StoredRow SpoolFiles::Row(std::size_t index) const {
  const SpoolIndexEntry& entry = reinterpret_cast<const SpoolIndexEntry*>(index_->Base())[index];
  return {{data_->Base() + entry.offset, entry.length}, entry.captureTimeNs};
}

}  // namespace orvanel
