// A live capture's packet source: the ring on the chosen address's
// interface and, when that interface goes away, a new ring wherever the
// address shows up again, under any name or index. The same wherever the
// capture loop runs; only the socket opener differs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "capture/packet_source.h"
#include "net/capture_socket.h"
#include "net/packet_ring.h"

namespace orvanel {

// What a capture's rings tell beyond their packets: written by the capture
// thread, read by any.
struct RingTallies {
  std::atomic<std::uint64_t> kernelDrops{0};
  std::atomic<std::uint64_t> interruptions{0};  // times the interface went away
  std::atomic<bool> interfaceLost{false};       // it went away and could not be opened again: the loop ended

  void Zero() {
    kernelDrops.store(0, std::memory_order_relaxed);
    interruptions.store(0, std::memory_order_relaxed);
    interfaceLost.store(false, std::memory_order_relaxed);
  }
};

class ReopeningRing final : public PacketSource {
 public:
  // Opens a capture socket on an address, as a Start does.
  using SocketOpener = std::function<CaptureSocket(const std::string& address)>;

  // Without an opener (the process gave up its right to capture) the source
  // is exhausted once its interface is gone, and says so in tallies.
  ReopeningRing(std::unique_ptr<PacketRing> ring, std::string address, SocketOpener reopen, RingTallies& tallies);
  ReopeningRing(const ReopeningRing&) = delete;
  ReopeningRing& operator=(const ReopeningRing&) = delete;

  // While the interface is gone: nothing (Woken) until the address was looked
  // up again, once a second, and a new ring opened where it is.
  ReceiveResult Receive(ReceiveBuffer& buffer) override;

  // As PacketRing's, from any thread; they hold for rings opened later too.
  void Wake();
  void Finish();
  // The receiving thread's call.
  void CountDrops();

 private:
  using Clock = std::chrono::steady_clock;

  void Install(std::unique_ptr<PacketRing> ring);
  ReceiveResult AwaitAddress();
  [[nodiscard]] std::unique_ptr<PacketRing> Reopen() const;

  std::mutex mutex_;                   // guards ring_ against Wake and Finish; the receiving thread alone changes it
  std::condition_variable signalled_;  // ends the wait between lookups
  std::unique_ptr<PacketRing> ring_;   // none while the interface is gone
  bool woken_ = false;                 // guarded by mutex_
  bool finishing_ = false;             // guarded by mutex_
  const std::string address_;
  const SocketOpener reopen_;
  RingTallies& tallies_;
  Clock::time_point nextLookup_;
};

}  // namespace orvanel
