// An unnamed file (O_TMPFILE, so nothing is left behind after a crash)
// mapped at a fixed reservation of address space and grown in whole chunks,
// so what it holds never moves and takes file pages, not the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/unique_fd.h"

namespace orvanel {

// The file system keeps free at least the larger of these.
struct FreeSpaceRule {
  std::uint64_t minimumFreeBytes = std::uint64_t{1} << 30;
  unsigned minimumFreePercent = 5;
};

class MappedFile {
 public:
  // Nothing when dir lies on a tmpfs (the file would take memory after all),
  // cannot hold unnamed files, or the address space cannot be reserved.
  static std::unique_ptr<MappedFile> Open(const std::string& dir, std::size_t reservation, std::size_t chunk,
                                          FreeSpaceRule rule);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::uint8_t* Base() const { return base_; }
  // Maps at least bytes; false when the reservation or the file system has no room.
  bool Grow(std::size_t bytes);

 private:
  MappedFile(UniqueFd fd, std::uint8_t* base, std::size_t reservation, std::size_t chunk, FreeSpaceRule rule)
      : fd_(std::move(fd)), base_(base), reservation_(reservation), chunk_(chunk), rule_(rule) {}
  bool TakeBlocks(void* piece, std::size_t length);
  void Shrink();
  bool SpaceLeftFor(std::size_t bytes) const;

  const UniqueFd fd_;
  std::uint8_t* const base_;
  const std::size_t reservation_;
  const std::size_t chunk_;
  const FreeSpaceRule rule_;
  std::size_t mapped_ = 0;
};

}  // namespace orvanel
