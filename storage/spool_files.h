// The files of one list, from one Clear to the next: each datagram appended
// to an unnamed data file, and a fixed-size entry for each row in an index
// file (capture/spool_layout.h), both mapped at addresses that never move.
// One thread appends rows while any number read the rows already published.
// The appending may also be done by another process that maps the files
// itself (the socket helper): the writer thread here then keeps room ahead
// of it and publishes what it wrote.
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
  [[nodiscard]] std::size_t RowCount() const { return published_.load(std::memory_order_acquire); }
  [[nodiscard]] StoredRow Row(std::size_t index) const;

  // Writer, for rows appended by another process.
  // When the Clear that made these the list's files came (CLOCK_REALTIME,
  // as capture times): rows captured since belong here, even when the other
  // writer was handed these files only later. 0: no Clear.
  [[nodiscard]] std::int64_t ClearedAtNs() const { return clearedAtNs_; }
  [[nodiscard]] int DataFd() const { return data_->Fd(); }
  [[nodiscard]] int IndexFd() const { return index_->Fd(); }
  // The bytes of the data used by the rows published.
  [[nodiscard]] std::size_t DataUsed() const { return dataUsed_.load(std::memory_order_relaxed); }
  // The bytes of each file the other process may write: mapped here. The
  // files' threads are asked for more ahead of the rows published; nothing waits for them.
  struct Room {
    std::size_t dataBytes;
    std::size_t indexBytes;
  };
  Room KeepRoomAhead();
  // Publishes the rows up to rows, whose data end at dataUsed: false, and
  // nothing published, when that is less than before or more than the room.
  // Their entries are not looked at: Row reads one pointing past the data
  // published as an empty datagram.
  [[nodiscard]] bool Publish(std::size_t rows, std::size_t dataUsed);

 private:
  SpoolFiles(std::unique_ptr<MappedFile> data, std::unique_ptr<MappedFile> index)
      : data_(std::move(data)), index_(std::move(index)) {}
  [[nodiscard]] bool MakeRoom(std::size_t rows, std::size_t dataBytes);

  friend class RowSpool;  // sets clearedAtNs_ before it hands the files out

  const std::unique_ptr<MappedFile> data_;
  const std::unique_ptr<MappedFile> index_;
  std::int64_t clearedAtNs_ = 0;
  std::atomic<std::size_t> published_{0};  // rows whose bytes and entry are written

  // Writer only.
  std::atomic<std::size_t> dataUsed_{0};  // by the rows published; changed by the writer
  bool full_ = false;
  std::uint32_t refusedSinceCheck_ = 0;
};

}  // namespace orvanel
