// The spool's files on one long-lived thread of their own, so that neither
// the capture thread nor the UI thread waits for them: it keeps fresh files
// ready for the next Clear (their first chunks taken), and lets cleared ones
// go once their last reader has (unmapping and freeing a big list takes long).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/mapped_file.h"
#include "storage/spool_files.h"

namespace orvanel {

class FileKeeper {
 public:
  // Starts making fresh files in directory.
  FileKeeper(std::string directory, FreeSpaceRule rule);
  ~FileKeeper();  // lets go of what is still queued, then ends its thread
  FileKeeper(const FileKeeper&) = delete;
  FileKeeper& operator=(const FileKeeper&) = delete;

  // Fresh files, and the next are made; nothing while they are being made
  // (Clears faster than that) or could not be.
  std::unique_ptr<SpoolFiles> TakeFresh();

  // Any thread. Past the queue's limit the caller lets the files go itself.
  void Release(std::unique_ptr<SpoolFiles> files);
  // Files shared by their readers that come back here when the last lets go.
  static std::shared_ptr<SpoolFiles> Share(std::unique_ptr<SpoolFiles> files,
                                           const std::shared_ptr<FileKeeper>& keeper);

 private:
  void Run();

  const std::string directory_;
  const FreeSpaceRule rule_;
  std::mutex mutex_;
  std::condition_variable work_;
  // Guarded by mutex_.
  std::vector<std::unique_ptr<SpoolFiles>> released_;
  std::unique_ptr<SpoolFiles> fresh_;
  bool freshWanted_ = true;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace orvanel
