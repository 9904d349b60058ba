// The listed rows, kept on disk rather than in the heap (see SpoolFiles). One
// thread adds rows (the capture thread) while others read them; the list's
// owner (the UI thread) clears it. Nobody waits for anybody: Clear starts
// fresh files at once, made ahead on a thread of the spool's own, and the old
// ones stay whole for as long as a reader holds them, then go on that thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "capture/listed_row.h"
#include "storage/file_keeper.h"
#include "storage/mapped_file.h"
#include "storage/spool_files.h"

namespace orvanel {

class RowSpool final : public PacketTable {
 public:
  // Rows are refused while the file system has less free than the rule asks.
  using SpaceRule = FreeSpaceRule;
  using StoredRow = SpoolFiles::StoredRow;

  // The rows of the list as it was when the reader was taken, and those
  // added to it until the next Clear. They stay readable while it is held,
  // through any Clear and after the spool itself has gone.
  class Reader {
   public:
    Reader() = default;  // no rows
    [[nodiscard]] std::size_t RowCount() const { return files_ ? files_->RowCount() : 0; }
    // index < RowCount().
    [[nodiscard]] StoredRow Row(std::size_t index) const { return files_->Row(index); }

   private:
    friend class RowSpool;
    explicit Reader(std::shared_ptr<const SpoolFiles> files) : files_(std::move(files)) {}
    std::shared_ptr<const SpoolFiles> files_;
  };

  // A spool in directory, which is made (mode 0700) when missing and made
  // owner-only when it is not. Nothing when
  // the directory cannot be made, lies on a tmpfs (the rows would take memory
  // after all) or cannot hold unnamed files.
  static std::unique_ptr<RowSpool> Create(const std::string& directory, SpaceRule rule);
  static std::unique_ptr<RowSpool> Create(const std::string& directory) { return Create(directory, SpaceRule()); }
  // The first of $XDG_CACHE_HOME/orvanel, ~/.cache/orvanel and /var/tmp that
  // can hold a spool; when none can, a spool that refuses every row.
  static std::unique_ptr<RowSpool> CreateInCacheDirectory();

  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  // Writer. A row the spool has no room for is counted as not listed.
  void AddRow(const ListedRow& row) override;
  // Writer, when the rows are appended by another process: the files they go
  // to now, those of the latest Clear; nothing when none could be made.
  const std::shared_ptr<SpoolFiles>& WriterFiles();

  // Any thread: the list as it is now.
  Reader Read() const;
  // The list's owner: empties the list at once, in fresh files whose first
  // chunks are taken before the writer is handed them (made on this thread
  // only when Clears come faster than ahead). When they cannot be made, rows
  // are not listed until the next Clear.
  void Clear();

  // Where the files are, and the rule they keep, for files kept beside them;
  // an empty directory when the spool keeps none.
  [[nodiscard]] const std::string& Directory() const { return directory_; }
  [[nodiscard]] SpaceRule Rule() const { return rule_; }

  // Any thread, since the spool was made: rows refused for lack of space, and
  // rows the writer had to wait for the files' threads to take room for.
  std::uint64_t RowsNotListed() const { return notListed_.load(std::memory_order_relaxed); }
  std::uint64_t WriterWaits() const { return writerWaits_.load(std::memory_order_relaxed); }

 private:
  static std::unique_ptr<RowSpool> InDirectory(const std::string& directory, SpaceRule rule);
  RowSpool(std::string directory, SpaceRule rule);
  std::shared_ptr<SpoolFiles> OpenFiles() const;
  static void Count(std::atomic<std::uint64_t>& counter);

  const std::string directory_;
  const SpaceRule rule_;
  const std::shared_ptr<FileKeeper> keeper_;

  mutable std::mutex currentMutex_;
  std::shared_ptr<SpoolFiles> current_;   // guarded by currentMutex_: the list's files now
  std::atomic<std::uint64_t> clears_{0};  // changed under currentMutex_

  // Writer only: the files it appends to, current_ when clears_ was writerClears_.
  std::shared_ptr<SpoolFiles> writing_;
  std::uint64_t writerClears_ = ~std::uint64_t{0};  // none taken yet

  std::atomic<std::uint64_t> notListed_{0};
  std::atomic<std::uint64_t> writerWaits_{0};
};

}  // namespace orvanel
