#include "storage/file_keeper.h"

namespace orvanel {
namespace {

// Lists cleared faster than their files can go: more wait on the thread that lets them go.
constexpr std::size_t kMaxReleased = 16;

}  // namespace

FileKeeper::FileKeeper(std::string directory, FreeSpaceRule rule)
    : directory_(std::move(directory)), rule_(rule), thread_([this] { Run(); }) {}

FileKeeper::~FileKeeper() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_one();
  thread_.join();
}

std::unique_ptr<SpoolFiles> FileKeeper::TakeFresh() {
  std::unique_ptr<SpoolFiles> fresh;
  {
    const std::lock_guard lock(mutex_);
    fresh = std::move(fresh_);
    freshWanted_ = true;
  }
  work_.notify_one();
  return fresh;
}

void FileKeeper::Release(std::unique_ptr<SpoolFiles> files) {
  {
    const std::lock_guard lock(mutex_);
    if (released_.size() < kMaxReleased) released_.push_back(std::move(files));
  }
  work_.notify_one();
}

std::shared_ptr<SpoolFiles> FileKeeper::Share(std::unique_ptr<SpoolFiles> files,
                                              const std::shared_ptr<FileKeeper>& keeper) {
  if (!files) return nullptr;
  return {files.release(), [keeper](SpoolFiles* last) { keeper->Release(std::unique_ptr<SpoolFiles>(last)); }};
}

void FileKeeper::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stopping_ || !released_.empty() || (freshWanted_ && !fresh_); });
    // Cleared files first: they give back the disk blocks fresh ones take.
    if (!released_.empty()) {
      std::vector<std::unique_ptr<SpoolFiles>> released = std::move(released_);
      released_.clear();
      lock.unlock();
      released.clear();
      lock.lock();
      continue;
    }
    if (stopping_) {
      const std::unique_ptr<SpoolFiles> unused = std::move(fresh_);
      lock.unlock();
      return;
    }
    freshWanted_ = false;
    lock.unlock();
    std::unique_ptr<SpoolFiles> fresh = SpoolFiles::Open(directory_, rule_);
    lock.lock();
    fresh_ = std::move(fresh);
  }
}

}  // namespace orvanel
