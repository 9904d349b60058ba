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
  const std::size_t used = dataUsed_.load(std::memory_order_relaxed);
  const std::size_t length = row.datagram.size();
  const bool ready = data_->Holds(used + length) && index_->Holds((rows + 1) * sizeof(SpoolIndexEntry));
  if (!MakeRoom(rows + 1, used + length)) return Appended::NoRoom;
  if (length > 0) std::memcpy(data_->Base() + used, row.datagram.data(), length);
  reinterpret_cast<SpoolIndexEntry*>(index_->Base())[rows] = {used, row.captureTimeNs,
                                                              static_cast<std::uint32_t>(length), 0};
  dataUsed_.store(used + length, std::memory_order_relaxed);
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
  data_->AskAhead(DataUsed() + kDataChunk);
  index_->AskAhead((rows + 1) * sizeof(SpoolIndexEntry) + kIndexChunk);
  return {data_->Mapped(), index_->Mapped()};
}

bool SpoolFiles::Publish(std::size_t rows, std::size_t dataUsed) {
  if (rows < published_.load(std::memory_order_relaxed) || dataUsed < DataUsed() ||
      rows > index_->Mapped() / sizeof(SpoolIndexEntry) || dataUsed > data_->Mapped()) {
    return false;
  }
  dataUsed_.store(dataUsed, std::memory_order_relaxed);
  published_.store(rows, std::memory_order_release);
  return true;
}

SpoolFiles::StoredRow SpoolFiles::Row(std::size_t index) const {
  const SpoolIndexEntry entry = reinterpret_cast<const SpoolIndexEntry*>(index_->Base())[index];
  // Another process may have written the entry: it is read only where the data published lies.
  const std::size_t used = DataUsed();
  if (entry.offset > used || entry.length > used - entry.offset) return {{}, entry.captureTimeNs};
  return {{data_->Base() + entry.offset, entry.length}, entry.captureTimeNs};
}

}  // namespace orvanel
