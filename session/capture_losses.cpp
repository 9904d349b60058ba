#include "session/capture_losses.h"

namespace orvanel {

Losses CaptureLosses::Read(std::int32_t receiveErrors) const {
  return {receiveErrors, KernelDrops(), NotListed() - notListedAtClear_,
          session_.CountedNotPassed() - notInConversationsAtClear_};
}

// A session counts the drops of one capture; the losses count them until Clear.
std::uint64_t CaptureLosses::KernelDrops() const {
  const std::uint64_t running = session_.IsCapturing() ? session_.KernelDrops() - dropsAtClear_ : 0;
  return dropsOfStoppedCaptures_ + running;
}

void CaptureLosses::CaptureStopped() {
  dropsOfStoppedCaptures_ += session_.KernelDrops() - dropsAtClear_;
  dropsAtClear_ = 0;
}

void CaptureLosses::Clear() {
  dropsOfStoppedCaptures_ = 0;
  dropsAtClear_ = session_.IsCapturing() ? session_.KernelDrops() : 0;
  notListedAtClear_ = NotListed();
  notInConversationsAtClear_ = session_.CountedNotPassed();
}

std::uint64_t CaptureLosses::NotListed() const { return rowsNotListed_() + session_.RowsNotPassed(); }

}  // namespace orvanel
