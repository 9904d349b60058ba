// "保存列表为 pcapng": rows of the list, oldest first, as a pcapng file,
// written on a thread of its own so the dialog and the capture go on.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "session/row_filter.h"
#include "storage/row_spool.h"

namespace orvanel {

class ListSave {
 public:
  // Writes the first rows of the list (the spool's rows, or the filter's
  // matches) to path, readable by its owner only. The file appears whole or
  // not at all: an existing file is replaced only once every row is written,
  // and a failed or cancelled save leaves nothing behind. The spool and the
  // filter outlive the save and neither is cleared while it runs.
  ListSave(const RowSpool& spool, const RowFilter* filter, std::uint64_t rows, const QString& path);
  ~ListSave();  // cancels a save still running and waits for its end
  ListSave(const ListSave&) = delete;
  ListSave& operator=(const ListSave&) = delete;

  void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
  // Cancels and waits only until the save no longer reads the list (a row at
  // most): the list may change then. Its file goes on the save's thread.
  void StopReading();
  // Until the save has ended.
  void Wait();
  [[nodiscard]] bool Done() const { return done_.load(std::memory_order_acquire); }
  [[nodiscard]] std::uint64_t RowsWritten() const { return written_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::uint64_t Rows() const { return rows_; }
  // Once Done: why the save failed or that it was cancelled, or nothing.
  [[nodiscard]] std::optional<QString> Error() const;

 private:
  void Run(const std::string& target);
  std::optional<QString> Write(const std::string& target);
  bool WriteRows(std::FILE* out);

  const RowSpool& spool_;
  const RowFilter* const filter_;
  const std::uint64_t rows_;
  std::optional<QString> error_;  // written before done_
  std::atomic<std::uint64_t> written_{0};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> reading_{true};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace orvanel
