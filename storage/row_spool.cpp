#include "storage/row_spool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace orvanel {
namespace {

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
  spool->current_ = spool->OpenFiles();
  return spool->current_ ? std::move(spool) : nullptr;
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

RowSpool::RowSpool(std::string directory, SpaceRule rule)
    : directory_(std::move(directory)), rule_(rule), keeper_(std::make_shared<FileKeeper>(directory_, rule_)) {}

std::shared_ptr<SpoolFiles> RowSpool::OpenFiles() const {
  if (directory_.empty()) return nullptr;
  return FileKeeper::Share(SpoolFiles::Open(directory_, rule_), keeper_);
}

const std::shared_ptr<SpoolFiles>& RowSpool::WriterFiles() {
  if (clears_.load(std::memory_order_acquire) != writerClears_) {
    std::shared_ptr<SpoolFiles> cleared;  // let go outside the lock: it may be the last hold
    const std::lock_guard lock(currentMutex_);
    cleared = std::exchange(writing_, current_);
    writerClears_ = clears_.load(std::memory_order_relaxed);
  }
  return writing_;
}

void RowSpool::AddRow(const ListedRow& row) {
  const std::shared_ptr<SpoolFiles>& writing = WriterFiles();
  const SpoolFiles::Appended appended = writing ? writing->Append(row) : SpoolFiles::Appended::NoRoom;
  if (appended == SpoolFiles::Appended::NoRoom) Count(notListed_);
  if (appended == SpoolFiles::Appended::AfterWaiting) Count(writerWaits_);
}

// Only the writer counts: no read-modify-write is needed.
void RowSpool::Count(std::atomic<std::uint64_t>& counter) {
  counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

RowSpool::Reader RowSpool::Read() const {
  const std::lock_guard lock(currentMutex_);
  return Reader(current_);
}

void RowSpool::Clear() {
  // Made ahead, or else here before the lock: the writer never waits for them.
  std::shared_ptr<SpoolFiles> fresh = FileKeeper::Share(keeper_->TakeFresh(), keeper_);
  if (!fresh) fresh = OpenFiles();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (fresh) fresh->clearedAtNs_ = std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
  std::shared_ptr<SpoolFiles> cleared;  // let go after the lock
  const std::lock_guard lock(currentMutex_);
  cleared = std::exchange(current_, std::move(fresh));
  clears_.fetch_add(1, std::memory_order_release);
}

}  // namespace orvanel
