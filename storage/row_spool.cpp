#include "storage/row_spool.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/unique_fd.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace orvanel {
namespace {

// Address space only, never committed: room for about 190 million full-size
// rows, or 350 million small ones; past that, rows count as not listed. Kept
// well below the address space a ThreadSanitizer build leaves to mappings.
constexpr std::size_t kDataReservation = std::size_t{256} << 30;
constexpr std::size_t kIndexReservation = std::size_t{8} << 30;
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

void* Reserve(std::size_t bytes) {
  void* base = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

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

UniqueFd OpenUnnamedFile(const std::string& dir) {
  const UniqueFd dirFd(open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct statfs fileSystem;
  if (!dirFd.valid() || fstatfs(dirFd.get(), &fileSystem) != 0 || fileSystem.f_type == TMPFS_MAGIC) return {};
  return UniqueFd(openat(dirFd.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
}

}  // namespace

// An unnamed file mapped at a fixed reservation, grown in whole chunks.
class RowSpool::MappedFile {
 public:
  MappedFile(UniqueFd fd, std::uint8_t* base, std::size_t reservation, std::size_t chunk, SpaceRule rule)
      : fd_(std::move(fd)), base_(base), reservation_(reservation), chunk_(chunk), rule_(rule) {}
  ~MappedFile() { munmap(base_, reservation_); }

  static std::unique_ptr<MappedFile> Open(const std::string& dir, std::size_t reservation, std::size_t chunk,
                                          SpaceRule rule) {
    UniqueFd fd = OpenUnnamedFile(dir);
    if (!fd.valid()) return nullptr;
    void* base = Reserve(reservation);
    if (!base) return nullptr;
    return std::make_unique<MappedFile>(std::move(fd), static_cast<std::uint8_t*>(base), reservation, chunk, rule);
  }

  std::uint8_t* Base() const { return base_; }

  // Maps at least bytes; false when the reservation or the file system has no room.
  bool Grow(std::size_t bytes) {
    if (bytes <= mapped_) return true;
    const std::size_t target = (bytes + chunk_ - 1) / chunk_ * chunk_;
    if (target > reservation_ || !SpaceLeftFor(target - mapped_)) return false;
    const std::size_t length = target - mapped_;
    if (ftruncate(fd_.get(), static_cast<off_t>(target)) != 0) return false;
    void* piece = mmap(base_ + mapped_, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_.get(),
                       static_cast<off_t>(mapped_));
    if (piece == MAP_FAILED || !TakeBlocks(piece, length)) {
      Shrink();
      return false;
    }
    mapped_ = target;
    return true;
  }
 private:
  // Takes the file's blocks for a fresh piece of the mapping before anything
  // is written there: a write to a mapped page that finds the file system
  // full would end the process. Faulting the pages in for writing does that
  // and saves a fault per page later; where the kernel cannot, the blocks are
  // allocated instead.
  bool TakeBlocks(void* piece, std::size_t length) {
    if (madvise(piece, length, MADV_POPULATE_WRITE) == 0) return true;
    return errno == EINVAL && fallocate(fd_.get(), 0, static_cast<off_t>(mapped_), static_cast<off_t>(length)) == 0;
  }

  // Back to what is mapped.
  void Shrink() {
    mmap(base_ + mapped_, reservation_ - mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED,
         -1, 0);
    [[maybe_unused]] const int shrunk = ftruncate(fd_.get(), static_cast<off_t>(mapped_));
  }

  bool SpaceLeftFor(std::size_t bytes) const {
    struct statvfs fileSystem;
    if (fstatvfs(fd_.get(), &fileSystem) != 0) return false;
    const std::uint64_t total = std::uint64_t{fileSystem.f_blocks} * fileSystem.f_frsize;
    const std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
    const std::uint64_t floor = std::max<std::uint64_t>(rule_.minimumFreeBytes, total / 100 * rule_.minimumFreePercent);
    return available >= floor + bytes;
  }

  const UniqueFd fd_;
  std::uint8_t* const base_;
  const std::size_t reservation_;
  const std::size_t chunk_;
  const SpaceRule rule_;
  std::size_t mapped_ = 0;
};


std::unique_ptr<RowSpool> RowSpool::Create(const std::string& directory, SpaceRule rule) {
  if (directory.empty() || !MakePrivateDirectory(directory)) return nullptr;
  return InDirectory(directory, rule);
}

std::unique_ptr<RowSpool> RowSpool::InDirectory(const std::string& directory, SpaceRule rule) {
  auto spool = std::unique_ptr<RowSpool>(new RowSpool(directory, rule));
  return spool->OpenFiles() ? std::move(spool) : nullptr;
}

bool RowSpool::OpenFiles() {
  auto data = MappedFile::Open(directory_, kDataReservation, kDataChunk, rule_);
  auto index = data ? MappedFile::Open(directory_, kIndexReservation, kIndexChunk, rule_) : nullptr;
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
  full_ = !data_->Grow(dataBytes) || !index_->Grow(rows * sizeof(IndexEntry));
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
