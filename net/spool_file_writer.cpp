#include "net/spool_file_writer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "capture/spool_layout.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace orvanel {

// A pair of passed files, each mapped whole at its reservation's size: the
// caller growing them is all it takes for more room here.
struct SpoolFileWriter::Files {
  std::uint8_t* data = nullptr;
  SpoolIndexEntry* index = nullptr;
  std::uint64_t firstRow = 0;  // the rows before it were there when the files came
  std::uint64_t rows = 0;
  std::uint64_t dataUsed = 0;
  std::int64_t clearedAtNs = 0;
  std::uint64_t dataMapped = 0;  // bytes whose pages are mapped here
  std::uint64_t indexMapped = 0;

  ~Files() {
    if (data) munmap(data, kSpoolDataReservation);
    if (index) munmap(index, kSpoolIndexReservation);
  }
};

namespace {

// Maps the next pages of a file here, up to room, in steps short enough not
// to hold the loop up: the caller took them in its own mapping only, and a
// write to one not mapped here would fault.
void MapAhead(void* base, std::uint64_t& mapped, std::uint64_t used, std::uint64_t room) {
  constexpr std::uint64_t kPage = 4096;
  constexpr std::uint64_t kStep = std::uint64_t{1} << 20;
  if (used < mapped) return;
  const std::uint64_t from = used / kPage * kPage;
  const std::uint64_t to = std::min(room, from + kStep);
  // Best effort: a page left out faults when written, as it would anyway.
  if (to > from) madvise(static_cast<std::uint8_t*>(base) + from, to - from, MADV_POPULATE_WRITE);
  mapped = to;
}

void* MapWhole(const UniqueFd& fd, std::size_t bytes) {
  struct stat status;
  const int flags = fcntl(fd.get(), F_GETFL);
  if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 || (flags & O_ACCMODE) != O_RDWR) {
    return nullptr;
  }
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, fd.get(), 0);
  return mapped == MAP_FAILED ? nullptr : mapped;
}

}  // namespace

SpoolFileWriter::SpoolFileWriter(CaptureBlock& block) : block_(block) {}

SpoolFileWriter::~SpoolFileWriter() = default;

bool SpoolFileWriter::Hand(ListFiles passed) {
  auto files = std::make_unique<Files>();
  files->data = static_cast<std::uint8_t*>(MapWhole(passed.data, kSpoolDataReservation));
  files->index = static_cast<SpoolIndexEntry*>(MapWhole(passed.index, kSpoolIndexReservation));
  files->firstRow = files->rows = passed.rows;
  files->dataUsed = passed.dataUsed;
  files->clearedAtNs = passed.clearedAtNs;
  const bool none = !passed.data.valid() && !passed.index.valid();
  const bool usable = files->data && files->index && passed.rows < kSpoolIndexReservation / sizeof(SpoolIndexEntry) &&
                      passed.dataUsed <= kSpoolDataReservation;
  if (!usable) files.reset();
  std::unique_ptr<Files> unused, retired;  // unmapped after the lock
  {
    const std::lock_guard lock(handing_);
    unused = std::exchange(handed_, std::move(files));
    retired = std::move(retired_);
    hands_.fetch_add(1, std::memory_order_release);
  }
  return usable || none;
}

void SpoolFileWriter::AddRow(const ListedRow& row) { Append(row.datagram, row.captureTimeNs); }

void SpoolFileWriter::Append(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  const std::size_t length = datagram.size();
  if (!files_ || !Fits(length)) {
    block_.rowsNotPassed.store(++notPassed_, std::memory_order_relaxed);
    return;
  }
  MapAhead(files_->data, files_->dataMapped, files_->dataUsed + length, dataRoom_);
  MapAhead(files_->index, files_->indexMapped, (files_->rows + 1) * sizeof(SpoolIndexEntry), indexRoom_);
  if (length > 0) std::memcpy(files_->data + files_->dataUsed, datagram.data(), length);
  files_->index[files_->rows] = {files_->dataUsed, captureTimeNs, static_cast<std::uint32_t>(length), 0};
  files_->dataUsed += length;
  block_.listDataUsed.store(files_->dataUsed, std::memory_order_relaxed);
  block_.listRows.store(++files_->rows, std::memory_order_release);
}

void SpoolFileWriter::TakeHanded() {
  const std::lock_guard lock(handing_);  // also keeps the files left mapped while carrying over
  retired_ = std::exchange(files_, std::move(handed_));
  taken_ = hands_.load(std::memory_order_relaxed);
  dataRoom_ = indexRoom_ = 0;
  block_.listDataUsed.store(files_ ? files_->dataUsed : 0, std::memory_order_relaxed);
  block_.listRows.store(files_ ? files_->rows : 0, std::memory_order_relaxed);
  if (files_ && retired_) CarryOver(*retired_);
  block_.listFilesTaken.store(taken_, std::memory_order_release);
}

// The rows this writer appended to the files left after their Clear came
// belong to the new list. Their entries are checked against what was
// written, as the caller could have changed them.
void SpoolFileWriter::CarryOver(const Files& from) {
  if (files_->clearedAtNs == 0) return;
  std::uint64_t first = from.rows;
  while (first > from.firstRow && from.index[first - 1].captureTimeNs >= files_->clearedAtNs) --first;
  for (std::uint64_t row = first; row < from.rows; ++row) {
    const SpoolIndexEntry entry = from.index[row];
    if (entry.offset > from.dataUsed || entry.length > from.dataUsed - entry.offset) continue;
    Append({from.data + entry.offset, entry.length}, entry.captureTimeNs);
  }
}

bool SpoolFileWriter::Fits(std::size_t length) {
  const auto fits = [&] {
    return files_->dataUsed + length <= dataRoom_ && (files_->rows + 1) * sizeof(SpoolIndexEntry) <= indexRoom_;
  };
  if (fits()) return true;
  ReadRoom();
  return fits();
}

// The room, when the caller's last word on it was for the files taken: it
// writes roomFiles 0 before the sizes and the files' number after them.
void SpoolFileWriter::ReadRoom() {
  // Sequentially consistent, as the caller's writes: a sequence lock without fences.
  const std::uint64_t before = block_.roomFiles.load();
  const std::uint64_t data = block_.dataRoom.load();
  const std::uint64_t index = block_.indexRoom.load();
  if (before != taken_ || block_.roomFiles.load() != before) return;
  dataRoom_ = std::min<std::uint64_t>(data, kSpoolDataReservation);
  indexRoom_ = std::min<std::uint64_t>(index, kSpoolIndexReservation);
}

}  // namespace orvanel
