// The files of one list, from one Clear to the next: each datagram appended
// to an unnamed data file, and a fixed-size entry for each row in an index
// file, both mapped at addresses that never move. One thread appends rows
// while any number read the rows already published.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "capture/listed_row.h"
#include "storage/mapped_file.h"

namespace orvanel {

class SpoolFiles {
 public:
  // Nothing when the files cannot be made in directory (see MappedFile::Open).
  static std::unique_ptr<SpoolFiles> Open(const std::string& directory, FreeSpaceRule rule);

  enum class Appended { Yes, AfterWaiting, NoRoom };
  // Writer. AfterWaiting when the files' threads had not taken the room yet.
  Appended Append(const ListedRow& row);

  // Readers: rows published so far, and one of them; index < RowCount().
  struct StoredRow {
    std::span<const std::uint8_t> datagram;
    std::int64_t captureTimeNs;
  };
  std::size_t RowCount() const { return published_.load(std::memory_order_acquire); }
  StoredRow Row(std::size_t index) const;

 private:
  SpoolFiles(std::unique_ptr<MappedFile> data, std::unique_ptr<MappedFile> index)
      : data_(std::move(data)), index_(std::move(index)) {}
  [[nodiscard]] bool MakeRoom(std::size_t rows, std::size_t dataBytes);

  const std::unique_ptr<MappedFile> data_;
  const std::unique_ptr<MappedFile> index_;
  std::atomic<std::size_t> published_{0};  // rows whose bytes and entry are written

  // Writer only.
  std::size_t dataUsed_ = 0;
  bool full_ = false;
  std::uint32_t refusedSinceCheck_ = 0;
};

}  // namespace orvanel
