// The listed rows of a capture in the socket helper, appended straight to
// the caller's list files (capture/spool_layout.h), so that they cross to
// the caller with no copy. The caller keeps room ahead in the files and
// says how much in the block; a row past that room, or with no files, is
// counted in the block as not passed, never waited for. Files handed after
// a Clear take the rows captured since it from the files before them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "capture/listed_row.h"
#include "net/capture_block.h"
#include "net/capture_request.h"

namespace orvanel {

class SpoolFileWriter final : public PacketTable {
 public:
  explicit SpoolFileWriter(CaptureBlock& block);
  ~SpoolFileWriter() override;
  SpoolFileWriter(const SpoolFileWriter&) = delete;
  SpoolFileWriter& operator=(const SpoolFileWriter&) = delete;

  // Any thread: the files to append to from the loop's next look on. False,
  // and rows are not passed until the next files, when they are not regular
  // files open for reading and writing that map whole.
  bool Hand(ListFiles files);
  // The loop's: takes the files handed since it last looked, before each
  // receive (rows or not), carrying over the rows since their Clear.
  void TakeHandedFiles() {
    if (hands_.load(std::memory_order_acquire) != taken_) TakeHanded();
  }
  void AddRow(const ListedRow& row) override;

 private:
  struct Files;
  void TakeHanded();
  void CarryOver(const Files& from);
  void Append(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs);
  [[nodiscard]] bool Fits(std::size_t length);
  void ReadRoom();

  CaptureBlock& block_;
  std::mutex handing_;
  std::unique_ptr<Files> handed_;        // guarded by handing_: not taken by the loop yet
  std::unique_ptr<Files> retired_;       // guarded by handing_: left by the loop, unmapped at the next hand
  std::atomic<std::uint64_t> hands_{0};  // changed under handing_

  // The loop's; kept here, as the caller may write anything into the block.
  std::unique_ptr<Files> files_;
  std::uint64_t taken_ = 0;
  std::uint64_t dataRoom_ = 0;
  std::uint64_t indexRoom_ = 0;
  std::uint64_t notPassed_ = 0;
};

}  // namespace orvanel
