// An unnamed file (O_TMPFILE, so nothing is left behind after a crash)
// mapped at a fixed reservation of address space and grown in whole chunks,
// so what it holds never moves and takes file pages, not the heap.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/unique_fd.h"

namespace orvanel {

// The file system keeps free at least the larger of these.
struct FreeSpaceRule {
  std::uint64_t minimumFreeBytes = std::uint64_t{1} << 30;
  unsigned minimumFreePercent = 5;
};

class MappedFile {
 public:
  // Whether a thread of the file's own grows it ahead of the writer, so that
  // the writer does not take the fresh pages' faults itself; the first chunk
  // is then taken in Open.
  enum class Ahead { No, Yes };
  // Nothing when dir lies on a tmpfs (the file would take memory after all),
  // cannot hold unnamed files, or the address space cannot be reserved.
  static std::unique_ptr<MappedFile> Open(const std::string& dir, std::size_t reservation, std::size_t chunk,
                                          FreeSpaceRule rule, Ahead ahead = Ahead::No);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  [[nodiscard]] std::uint8_t* Base() const { return base_; }
  // Maps at least bytes; returns 0, or the errno of why not: EFBIG when the
  // reservation has no room, ENOSPC when the file system would keep too
  // little free. One thread at a time. With a thread ahead, it waits only
  // when that thread has not got there yet.
  [[nodiscard]] int Grow(std::size_t bytes);
  // With a thread ahead: asks it to map at least bytes (and more ahead),
  // without waiting; again after it fell short. The writer only.
  void AskAhead(std::size_t bytes);
  // Whether bytes are mapped already, so that Grow returns at once. The writer only.
  [[nodiscard]] bool Holds(std::size_t bytes) const { return bytes <= Mapped(); }
  // The bytes mapped, as the writer may use them. The writer only.
  [[nodiscard]] std::size_t Mapped() const {
    return ahead_.joinable() ? ready_.load(std::memory_order_acquire) : mapped_;
  }
  // For a writer in another process, which maps the file itself.
  [[nodiscard]] int Fd() const { return fd_.get(); }

 private:
  MappedFile(UniqueFd fd, std::uint8_t* base, std::size_t reservation, std::size_t chunk, FreeSpaceRule rule)
      : fd_(std::move(fd)), base_(base), reservation_(reservation), chunk_(chunk), rule_(rule) {}
  int GrowTo(std::size_t bytes);
  int TakeBlocks(void* piece, std::size_t length);
  void Shrink();
  [[nodiscard]] int RoomFor(std::size_t bytes) const;
  std::uint64_t Ask(std::size_t bytes, bool justThese);
  void GrowAhead();

  const UniqueFd fd_;
  std::uint8_t* const base_;
  const std::size_t reservation_;
  const std::size_t chunk_;
  const FreeSpaceRule rule_;
  std::size_t mapped_ = 0;  // only the thread that grows the file: the writer, or the thread ahead

  // The thread ahead, when there is one.
  std::thread ahead_;
  std::atomic<std::size_t> ready_{0};  // mapped_, as the writer sees it
  std::atomic<int> aheadError_{0};     // why the thread ahead last fell short
  std::size_t asked_ = 0;              // writer only: the most it has asked for
  std::mutex asking_;
  std::condition_variable asked_for_;
  std::condition_variable answered_;
  // Guarded by asking_.
  std::size_t wanted_ = 0;
  std::uint64_t asks_ = 0;
  std::uint64_t answers_ = 0;
  bool stopping_ = false;
};

}  // namespace orvanel
