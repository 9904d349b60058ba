// The listed rows of a capture in the socket helper, on their way to the
// caller: a ring in the shared block, one writer (the helper's loop) and
// one reader (the caller's relay). A row the ring has no room for is
// counted in the block, never waited for.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "capture/listed_row.h"
#include "net/capture_block.h"

namespace orvanel {

class RowRingWriter final : public PacketTable {
 public:
  explicit RowRingWriter(CaptureBlock& block) : block_(block) {}
  void AddRow(const ListedRow& row) override;

 private:
  CaptureBlock& block_;
  std::uint64_t written_ = 0;  // kept here: the caller may write anything into the block
};

class RowRingReader {
 public:
  explicit RowRingReader(CaptureBlock& block) : block_(block) {}
  // Hands each row written since the last call to take, in order, its bytes
  // valid during the call. False when the ring holds something no writer of
  // ours wrote.
  using Take = std::function<void(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs)>;
  [[nodiscard]] bool Drain(const Take& take);

 private:
  CaptureBlock& block_;
  std::uint64_t read_ = 0;
};

}  // namespace orvanel
