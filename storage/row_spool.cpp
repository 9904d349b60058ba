#include "storage/row_spool.h"

#include "storage/mapped_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

// Makes dir and any missing parents; the last one owner-only.
bool MakeDirectory(const std::string& dir) {
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    if (mkdir(dir.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Captured bytes are other people's data: a directory of the spool's own is
// made, or kept, owner-only.
bool MakePrivateDirectory(const std::string& dir) {
  if (!MakeDirectory(dir)) return false;
  struct stat status;
  if (lstat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != geteuid()) return false;
  return (status.st_mode & 077) == 0 || chmod(dir.c_str(), status.st_mode & 0700) == 0;
}

}  // namespace

std::unique_ptr<RowSpool> RowSpool::Create(const std::string& directory, SpaceRule rule) {
  if (directory.empty() || !MakePrivateDirectory(directory)) return nullptr;
  return InDirectory(directory, rule);
}

std::unique_ptr<RowSpool> RowSpool::InDirectory(const std::string& directory, SpaceRule rule) {
  auto spool = std::unique_ptr<RowSpool>(new RowSpool(directory, rule));
  return spool->OpenFiles() ? std::move(spool) : nullptr;
}

bool RowSpool::OpenFiles() {
  // Threads of the files' own take the next chunks, so the writer does not fault.
  auto data = MappedFile::Open(directory_, kDataReservation, kDataChunk, rule_, MappedFile::Ahead::Yes);
  auto index = data ? MappedFile::Open(directory_, kIndexReservation, kIndexChunk, rule_, MappedFile::Ahead::Yes)
                    : nullptr;
  if (!index) return false;
  data_ = std::move(data);
  index_ = std::move(index);
  return true;
}

std::unique_ptr<RowSpool> RowSpool::CreateInCacheDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  if (cache && cache[0] == '/') {
    if (auto spool = Create(std::string(cache) + "/orvanel")) return spool;
  }
  if (home && home[0] == '/') {
    if (auto spool = Create(std::string(home) + "/.cache/orvanel")) return spool;
  }
  if (auto spool = InDirectory("/var/tmp", SpaceRule())) return spool;  // shared: the files alone are owner-only
  // Nowhere to keep rows: every row counts as not listed.
  return std::unique_ptr<RowSpool>(new RowSpool({}, SpaceRule()));
}

RowSpool::RowSpool(std::string directory, SpaceRule rule) : directory_(std::move(directory)), rule_(rule) {}

RowSpool::~RowSpool() {
  if (releaser_.joinable()) releaser_.join();
}

void RowSpool::AddRow(const ListedRow& row) {
  if (clearRequested_.load(std::memory_order_acquire)) CutFiles();
  const std::size_t rows = published_.load(std::memory_order_relaxed);
  const std::size_t length = row.datagram.size();
  if (!MakeRoom(rows + 1, dataUsed_ + length)) {
    notListed_.store(notListed_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return;
  }
  if (length > 0) std::memcpy(data_->Base() + dataUsed_, row.datagram.data(), length);
  reinterpret_cast<IndexEntry*>(index_->Base())[rows] = {dataUsed_, row.captureTimeNs,
                                                         static_cast<std::uint32_t>(length), 0};
  dataUsed_ += length;
  published_.store(rows + 1, std::memory_order_release);
}

bool RowSpool::MakeRoom(std::size_t rows, std::size_t dataBytes) {
  if (!data_) return false;
  if (full_ && ++refusedSinceCheck_ < kRefusalsBetweenChecks) return false;
  full_ = data_->Grow(dataBytes) != 0 || index_->Grow(rows * sizeof(IndexEntry)) != 0;
  refusedSinceCheck_ = 0;
  return !full_;
}

std::size_t RowSpool::RowCount() const {
  if (clearRequested_.load(std::memory_order_acquire)) return 0;
  return published_.load(std::memory_order_acquire);
}

RowSpool::StoredRow RowSpool::Row(std::size_t index) const {
  const IndexEntry& entry = reinterpret_cast<const IndexEntry*>(index_->Base())[index];
  return {{data_->Base() + entry.offset, entry.length}, entry.captureTimeNs};
}

void RowSpool::Clear() { clearRequested_.store(true, std::memory_order_release); }

void RowSpool::FinishClear() {
  if (clearRequested_.load(std::memory_order_acquire)) CutFiles();
}

void RowSpool::CutFiles() {
  // Unmapping and freeing a big spool takes long: fresh files take over at
  // once, and a thread of its own lets the old ones go.
  if (data_) {
    if (releaser_.joinable()) releaser_.join();
    releaser_ = std::thread([data = std::move(data_), index = std::move(index_)] {});
    (void)OpenFiles();  // if that fails, rows are not listed until the next Clear
  }
  dataUsed_ = 0;
  full_ = false;
  refusedSinceCheck_ = 0;
  published_.store(0, std::memory_order_relaxed);
  clearRequested_.store(false, std::memory_order_release);
}

}  // namespace orvanel
