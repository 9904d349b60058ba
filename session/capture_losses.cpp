#include "session/capture_losses.h"

namespace orvanel {

Losses CaptureLosses::Read(std::int32_t receiveErrors) const {
  return {receiveErrors,
          KernelDrops(),
          NotListed() - notListedAtClear_,
          interruptions_.Read(session_.IsCapturing()),
          saveFailures_.Packets() - notSavedAtClear_,
          session_.CountedNotPassed() - notInConversationsAtClear_};
}

std::uint64_t CaptureLosses::KernelDrops() const { return drops_.Read(session_.IsCapturing()); }

void CaptureLosses::CaptureStopped() {
  drops_.CaptureStopped();
  interruptions_.CaptureStopped();
}

void CaptureLosses::Clear() {
  drops_.Clear(session_.IsCapturing());
  interruptions_.Clear(session_.IsCapturing());
  notListedAtClear_ = NotListed();
  notSavedAtClear_ = saveFailures_.Packets();
  notInConversationsAtClear_ = session_.CountedNotPassed();
}

void CaptureLosses::Carried::CaptureStopped() {
  ofStopped_ += ofCapture_() - atClear_;
  atClear_ = 0;
}

void CaptureLosses::Carried::Clear(bool capturing) {
  ofStopped_ = 0;
  atClear_ = capturing ? ofCapture_() : 0;
}

std::uint64_t CaptureLosses::NotListed() const { return rowsNotListed_() + session_.RowsNotPassed(); }

}  // namespace orvanel
