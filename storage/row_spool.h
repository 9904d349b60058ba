// The listed rows, kept on disk rather than in the heap: each datagram is
// appended to an unnamed spool file, and each row gets a fixed-size index
// entry in a second one. Both files are mapped, at addresses that never move.
// One thread adds rows (the capture thread) while one other thread reads them
// and clears the list (the UI thread); neither ever waits for the other.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "capture/listed_row.h"
#include "storage/mapped_file.h"

namespace orvanel {

class RowSpool final : public PacketTable {
 public:
  // Rows are refused while the file system has less free than the rule asks.
  using SpaceRule = FreeSpaceRule;

  // A spool in directory, which is made (mode 0700) when missing and made
  // owner-only when it is not. Nothing when
  // the directory cannot be made, lies on a tmpfs (the rows would take memory
  // after all) or cannot hold unnamed files.
  static std::unique_ptr<RowSpool> Create(const std::string& directory, SpaceRule rule);
  static std::unique_ptr<RowSpool> Create(const std::string& directory) { return Create(directory, SpaceRule()); }
  // The first of $XDG_CACHE_HOME/orvanel, ~/.cache/orvanel and /var/tmp that
  // can hold a spool; when none can, a spool that refuses every row.
  static std::unique_ptr<RowSpool> CreateInCacheDirectory();

  ~RowSpool() override;
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  // Writer. A row the spool has no room for is counted as not listed.
  void AddRow(const ListedRow& row) override;

  // Reader. Rows of the list, oldest first; a row's bytes stay valid until Clear.
  struct StoredRow {
    std::span<const std::uint8_t> datagram;
    std::int64_t captureTimeNs;
  };
  [[nodiscard]] std::size_t RowCount() const;
  [[nodiscard]] StoredRow Row(std::size_t index) const;

  // Reader: empties the list at once. The writer starts fresh files before
  // its next row, or FinishClear does it when no row is being added; the old
  // ones are let go on a thread of their own.
  void Clear();
  // Starts the fresh files of a Clear now. Only while no writer runs.
  void FinishClear();

  // Where the files are, and the rule they keep, for files kept beside them;
  // an empty directory when the spool keeps none.
  [[nodiscard]] const std::string& Directory() const { return directory_; }
  [[nodiscard]] SpaceRule Rule() const { return rule_; }

  // Rows refused for lack of space since the spool was made; any thread.
  [[nodiscard]] std::uint64_t RowsNotListed() const { return notListed_.load(std::memory_order_relaxed); }

 private:
  static std::unique_ptr<RowSpool> InDirectory(const std::string& directory, SpaceRule rule);
  RowSpool(std::string directory, SpaceRule rule);
  [[nodiscard]] bool OpenFiles();
  [[nodiscard]] bool MakeRoom(std::size_t rows, std::size_t dataBytes);
  void CutFiles();

  const std::string directory_;
  const SpaceRule rule_;
  // Owned by whoever adds rows: the writer while it runs, else the reader.
  std::unique_ptr<MappedFile> data_;
  std::unique_ptr<MappedFile> index_;
  std::thread releaser_;  // lets the files of the last Clear go

  // Writer only.
  std::size_t dataUsed_ = 0;
  bool full_ = false;
  std::uint32_t refusedSinceCheck_ = 0;

  std::atomic<std::size_t> published_{0};      // rows whose bytes and entry are written
  std::atomic<bool> clearRequested_{false};    // set by the reader, cleared by whoever cuts the files
  std::atomic<std::uint64_t> notListed_{0};
};

}  // namespace orvanel
