// The capture thread's packet source: the receive ring of a socket that
// OpenCaptureSocket prepared, and a wake-up that Stop can signal.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "capture/packet_source.h"
#include "capture/unique_fd.h"
#include "net/ring_layout.h"

namespace orvanel {

class PacketRing final : public PacketSource {
 public:
  // Takes the socket; nothing when its ring cannot be mapped or no wake-up
  // can be made, with errno saying why.
  [[nodiscard]] static std::unique_ptr<PacketRing> Map(UniqueFd socket);
  ~PacketRing() override;
  PacketRing(const PacketRing&) = delete;
  PacketRing& operator=(const PacketRing&) = delete;

  // Blocks until a packet is there, a wake-up came or the socket failed. A
  // failure is returned after a pause of about 10 ms, so a dead interface
  // cannot keep a core busy. A packet is handed out in place, in the ring,
  // until the next Receive; the buffer is left alone. Once the interface is
  // gone, Exhausted.
  ReceiveResult Receive(ReceiveBuffer& buffer) override;

  // The socket's interface was deleted (even if another took its index):
  // nothing comes any more. Known within a second of it; the receiving
  // thread's call.
  [[nodiscard]] bool InterfaceGone() const { return interfaceGone_; }

  // Whether the next Receive hands out a packet without waiting; the
  // receiving thread's call.
  [[nodiscard]] bool PacketAtHand() const;

  // From any thread: the waiting Receive, or else the next one that finds
  // no packet at hand, returns Woken.
  void Wake();
  // The one descriptor Wake writes to, for a seccomp filter that allows no other write.
  [[nodiscard]] int WakeDescriptor() const { return wake_.get(); }

  // From any thread: Receive goes on with what the kernel has captured, the
  // block it is filling included (handed over within a block timeout), and
  // then returns Exhausted. At most one more ring's worth is taken, so a
  // flood cannot keep it going.
  void Finish();

  // Adds the packets the kernel drops because the ring is full to total, each
  // time a block is given back and at CountDrops; total may be read by any
  // thread. Set before the first Receive.
  void CountDropsIn(std::atomic<std::uint64_t>& total) { dropTotal_ = &total; }
  // Adds the drops since the last count; the receiving thread's call.
  void CountDrops();

 private:
  // LookAgain: a packet may be at hand, or a signal cut the wait short.
  enum class Event { LookAgain, Woken, Failed, Gone };

  PacketRing(UniqueFd socket, UniqueFd wake, std::uint8_t* ring, unsigned interfaceIndex);
  Event Wait();
  bool FinishedWaiting();
  [[nodiscard]] bool BlockReady() const;
  void OpenBlock();
  void ReleaseBlock();
  ReceiveResult TakePacket();
  void Pause();

  UniqueFd socket_;
  UniqueFd wake_;
  std::uint8_t* ring_;
  unsigned interfaceIndex_;
  unsigned block_ = 0;                  // the oldest block not yet given back
  const std::uint8_t* next_ = nullptr;  // the next packet in it; null once the block is given back
  std::uint32_t left_ = 0;              // packets of the block not yet taken
  std::atomic<std::uint64_t>* dropTotal_ = nullptr;
  std::atomic<bool> finishing_{false};
  unsigned blocksBeforeFinish_ = kRingBlockCount + 1;  // the full ring and the block being filled
  bool awaitedLastBlock_ = false;
  // The socket reported an error: from then on an idle wait checks the
  // interface once a second (packets still in the ring may come first).
  bool linkWentDown_ = false;
  bool interfaceGone_ = false;
};

}  // namespace orvanel
