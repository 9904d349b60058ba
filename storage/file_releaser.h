// Lets the files of a finished list go on one long-lived thread of its own:
// unmapping and freeing a big spool takes long, and neither the capture
// thread nor the UI thread may wait for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storage/spool_files.h"

namespace orvanel {

class FileReleaser {
 public:
  FileReleaser();
  ~FileReleaser();  // lets go of what is still queued, then ends its thread
  FileReleaser(const FileReleaser&) = delete;
  FileReleaser& operator=(const FileReleaser&) = delete;

  // Any thread. Past the queue's limit the caller lets the files go itself.
  void Release(std::unique_ptr<SpoolFiles> files);

  // Files that reach the releaser once their last holder lets them go.
  static std::shared_ptr<SpoolFiles> Share(std::unique_ptr<SpoolFiles> files,
                                           const std::shared_ptr<FileReleaser>& releaser);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable queued_;
  // Guarded by mutex_.
  std::vector<std::unique_ptr<SpoolFiles>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace orvanel
