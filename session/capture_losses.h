// What a capture lost, as the dialog's ERROR and orvanel-cli's last line
// count it: failed receives, packets the kernel dropped because the ring was
// full, rows the table could not take, the times the interface went away,
// packets the last-packet files could not take, and counted packets that did
// not reach the conversation table from the socket helper; all from the last
// Clear on, across captures.
#pragma once

#include <cstdint>
#include <functional>

#include "capture/counters.h"
#include "session/capture_session.h"
#include "storage/last_packet.h"

namespace orvanel {

struct Losses {
  std::int32_t receiveFailures = 0;
  std::uint64_t kernelDrops = 0;
  std::uint64_t notListed = 0;
  std::uint64_t interfaceInterruptions = 0;
  std::uint64_t notSaved = 0;
  std::uint64_t notInConversations = 0;

  // The sum, wrapping past the largest 32-bit value like the counters.
  [[nodiscard]] std::int32_t Total() const {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(receiveFailures) + static_cast<std::uint32_t>(kernelDrops) +
        static_cast<std::uint32_t>(notListed) + static_cast<std::uint32_t>(interfaceInterruptions) +
        static_cast<std::uint32_t>(notSaved) + static_cast<std::uint32_t>(notInConversations));
  }
};

class CaptureLosses {
 public:
  // rowsNotListed: the table's running count of rows it could not take.
  CaptureLosses(const CaptureSession& session, std::function<std::uint64_t()> rowsNotListed,
                const SaveFailures& saveFailures)
      : session_(session), rowsNotListed_(std::move(rowsNotListed)), saveFailures_(saveFailures) {}

  // receiveErrors: the counters' shown value, which Clear zeroes with them.
  [[nodiscard]] Losses Read(std::int32_t receiveErrors) const;
  [[nodiscard]] std::uint64_t KernelDrops() const;

  // After the session's Stop: the capture's drops go on counting.
  void CaptureStopped();
  // At Clear list: everything counts from zero again.
  void Clear();

 private:
  // A count the session keeps for one capture, carried on across captures.
  class Carried {
   public:
    explicit Carried(std::function<std::uint64_t()> ofCapture) : ofCapture_(std::move(ofCapture)) {}
    std::uint64_t Read(bool capturing) const { return ofStopped_ + (capturing ? ofCapture_() - atClear_ : 0); }
    void CaptureStopped();
    void Clear(bool capturing);

   private:
    std::function<std::uint64_t()> ofCapture_;
    std::uint64_t ofStopped_ = 0;
    std::uint64_t atClear_ = 0;  // of the running capture
  };

  // Rows the table could not take, and those that did not reach it from the helper.
  std::uint64_t NotListed() const;

  const CaptureSession& session_;
  std::function<std::uint64_t()> rowsNotListed_;
  const SaveFailures& saveFailures_;
  Carried drops_{[this] { return session_.KernelDrops(); }};
  Carried interruptions_{[this] { return session_.InterfaceInterruptions(); }};
  std::uint64_t notListedAtClear_ = 0;
  std::uint64_t notSavedAtClear_ = 0;
  std::uint64_t notInConversationsAtClear_ = 0;
};

}  // namespace orvanel
