#include "storage/mapped_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace orvanel {
namespace {

void* Reserve(std::size_t bytes) {
  void* base = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

UniqueFd OpenUnnamedFile(const std::string& dir) {
  const UniqueFd dirFd(open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct statfs fileSystem;
  if (!dirFd.valid() || fstatfs(dirFd.get(), &fileSystem) != 0 || fileSystem.f_type == TMPFS_MAGIC) return {};
  return UniqueFd(openat(dirFd.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
}

}  // namespace

std::unique_ptr<MappedFile> MappedFile::Open(const std::string& dir, std::size_t reservation, std::size_t chunk,
                                             FreeSpaceRule rule, Ahead ahead) {
  UniqueFd fd = OpenUnnamedFile(dir);
  if (!fd.valid()) return nullptr;
  void* base = Reserve(reservation);
  if (!base) return nullptr;
  std::unique_ptr<MappedFile> file(
      new MappedFile(std::move(fd), static_cast<std::uint8_t*>(base), reservation, chunk, rule));
  if (ahead == Ahead::Yes) {
    // A writer handed the file has its first rows' room: it waits for no thread.
    if (file->GrowTo(chunk) == 0) file->ready_.store(file->mapped_, std::memory_order_relaxed);
    file->ahead_ = std::thread([file = file.get()] { file->GrowAhead(); });
    pthread_setname_np(file->ahead_.native_handle(), "orvanel-grow");  // its CPU time can be told apart
  }
  return file;
}

MappedFile::~MappedFile() {
  if (ahead_.joinable()) {
    {
      const std::lock_guard lock(asking_);
      stopping_ = true;
    }
    asked_for_.notify_one();
    ahead_.join();  // at most the chunk it is taking
  }
  munmap(base_, reservation_);
}

int MappedFile::Grow(std::size_t bytes) {
  if (!ahead_.joinable()) return GrowTo(bytes);
  AskAhead(bytes);
  if (bytes <= ready_.load(std::memory_order_acquire)) return 0;
  // Caught up with the thread ahead, or it found no room: it takes just these
  // bytes, and is asked ahead again from there.
  const std::uint64_t ask = Ask(bytes, true);
  asked_ = 0;
  std::unique_lock lock(asking_);
  answered_.wait(lock, [&] { return answers_ >= ask; });
  return bytes <= ready_.load(std::memory_order_acquire) ? 0 : aheadError_.load(std::memory_order_relaxed);
}

void MappedFile::AskAhead(std::size_t bytes) {
  if (!ahead_.joinable()) return;
  if (bytes > ready_.load(std::memory_order_acquire) && aheadError_.load(std::memory_order_relaxed) != 0) asked_ = 0;
  // Once the writer is into the last chunk asked for, the thread ahead takes
  // the next two (fewer, larger takes cost less in all).
  if (bytes + chunk_ > asked_) {
    asked_ = (bytes + 3 * chunk_ - 1) / chunk_ * chunk_;
    Ask(asked_, false);
  }
}

std::uint64_t MappedFile::Ask(std::size_t bytes, bool justThese) {
  std::uint64_t ask;
  {
    const std::lock_guard lock(asking_);
    wanted_ = justThese ? bytes : std::max(wanted_, bytes);
    ask = ++asks_;
  }
  asked_for_.notify_one();
  return ask;
}

void MappedFile::GrowAhead() {
  std::unique_lock lock(asking_);
  for (;;) {
    asked_for_.wait(lock, [&] { return stopping_ || answers_ != asks_; });
    if (stopping_) return;
    const std::uint64_t ask = asks_;
    const std::size_t wanted = std::min(std::exchange(wanted_, 0), reservation_);
    lock.unlock();
    const int error = GrowTo(wanted);
    aheadError_.store(error, std::memory_order_relaxed);
    if (error == 0) ready_.store(mapped_, std::memory_order_release);
    lock.lock();
    answers_ = ask;
    answered_.notify_all();
  }
}

int MappedFile::GrowTo(std::size_t bytes) {
  if (bytes <= mapped_) return 0;
  const std::size_t target = (bytes + chunk_ - 1) / chunk_ * chunk_;
  if (target > reservation_) return EFBIG;
  if (const int error = RoomFor(target - mapped_)) return error;
  const std::size_t length = target - mapped_;
  if (ftruncate(fd_.get(), static_cast<off_t>(target)) != 0) return errno;
  void* piece = mmap(base_ + mapped_, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_.get(),
                     static_cast<off_t>(mapped_));
  if (const int error = piece == MAP_FAILED ? errno : TakeBlocks(piece, length)) {
    Shrink();
    return error;
  }
  mapped_ = target;
  return 0;
}

// Takes the file's blocks for a fresh piece of the mapping before anything
// is written there: a write to a mapped page that finds the file system
// full would end the process. The blocks are allocated in one go; faulting
// the pages in for writing then saves a fault per page later, and takes the
// blocks itself where the file system cannot allocate them ahead.
int MappedFile::TakeBlocks(void* piece, std::size_t length) {
  const bool allocated = fallocate(fd_.get(), 0, static_cast<off_t>(mapped_), static_cast<off_t>(length)) == 0;
  if (!allocated && errno != EOPNOTSUPP) return errno;
  return madvise(piece, length, MADV_POPULATE_WRITE) == 0 || allocated ? 0 : errno;
}

// Back to what is mapped.
void MappedFile::Shrink() {
  // Best effort, as the truncation: nothing reads past what is mapped.
  static_cast<void>(mmap(base_ + mapped_, reservation_ - mapped_, PROT_NONE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0));
  [[maybe_unused]] const int shrunk = ftruncate(fd_.get(), static_cast<off_t>(mapped_));
}

int MappedFile::RoomFor(std::size_t bytes) const {
  struct statvfs fileSystem;
  if (fstatvfs(fd_.get(), &fileSystem) != 0) return errno;
  const std::uint64_t total = std::uint64_t{fileSystem.f_blocks} * fileSystem.f_frsize;
  const std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
  const std::uint64_t floor = std::max<std::uint64_t>(rule_.minimumFreeBytes, total / 100 * rule_.minimumFreePercent);
  return available >= floor + bytes ? 0 : ENOSPC;
}

}  // namespace orvanel
