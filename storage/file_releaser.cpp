#include "storage/file_releaser.h"

namespace orvanel {
namespace {

// Lists cleared faster than their files can go: more wait on the thread that lets them go.
constexpr std::size_t kMaxQueued = 16;

}  // namespace

FileReleaser::FileReleaser() : thread_([this] { Run(); }) {}

FileReleaser::~FileReleaser() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  thread_.join();
}

void FileReleaser::Release(std::unique_ptr<SpoolFiles> files) {
  {
    const std::lock_guard lock(mutex_);
    if (queue_.size() < kMaxQueued) {
      queue_.push_back(std::move(files));
    }
  }
  queued_.notify_one();
}

std::shared_ptr<SpoolFiles> FileReleaser::Share(std::unique_ptr<SpoolFiles> files,
                                                const std::shared_ptr<FileReleaser>& releaser) {
  if (!files) return nullptr;
  return {files.release(), [releaser](SpoolFiles* last) { releaser->Release(std::unique_ptr<SpoolFiles>(last)); }};
}

void FileReleaser::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    std::vector<std::unique_ptr<SpoolFiles>> taken = std::move(queue_);
    queue_.clear();
    if (taken.empty()) return;  // stopping, with nothing left
    lock.unlock();
    taken.clear();
    lock.lock();
  }
}

}  // namespace orvanel
