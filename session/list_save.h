// Rows of a list, oldest first, saved as a pcapng file on a thread of their
// own so that whoever asked and the capture go on.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "session/row_filter.h"
#include "storage/row_spool.h"

namespace orvanel {

class ListSave {
 public:
  // Writes the first rows of the list (a reader's rows, or the filter's
  // matches among them) to path, readable by its owner only. The file
  // appears whole or not at all: an existing file is replaced only once every
  // row is written, and a failed or cancelled save leaves nothing behind.
  ListSave(RowSpool::Reader list, std::shared_ptr<const RowFilter> filter, std::uint64_t rows, std::string path);
  ~ListSave();  // cancels a save still running and waits for its end
  ListSave(const ListSave&) = delete;
  ListSave& operator=(const ListSave&) = delete;

  void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
  // Until the save has ended.
  void Wait();
  bool Done() const { return done_.load(std::memory_order_acquire); }
  std::uint64_t RowsWritten() const { return written_.load(std::memory_order_relaxed); }
  std::uint64_t Rows() const { return rows_; }
  // Once Done: the errno the save failed with, ECANCELED when it was
  // cancelled, or 0.
  int Error() const { return Done() ? error_ : 0; }

 private:
  void Run(const std::string& path);
  int Write(const std::string& path);
  bool WriteRows(std::FILE* out);

  const RowSpool::Reader list_;
  const std::shared_ptr<const RowFilter> filter_;
  const std::uint64_t rows_;
  int error_ = 0;  // written before done_
  std::atomic<std::uint64_t> written_{0};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace orvanel
