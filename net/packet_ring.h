// The capture thread's packet source: the receive ring of a socket that
// OpenCaptureSocket prepared, and a wake-up that Stop can signal.
#pragma once

#include <cstdint>
#include <memory>

#include "capture/capture_loop.h"
#include "net/unique_fd.h"

namespace orvanel {

class PacketRing final : public PacketSource {
 public:
  // Takes the socket; nothing when its ring cannot be mapped or no wake-up
  // can be made.
  static std::unique_ptr<PacketRing> Map(UniqueFd socket);
  ~PacketRing() override;
  PacketRing(const PacketRing&) = delete;
  PacketRing& operator=(const PacketRing&) = delete;

  // Blocks until a packet is there, a wake-up came or the socket failed. A
  // failure is returned after a pause of about 10 ms, so a dead interface
  // cannot keep a core busy.
  ReceiveResult Receive(ReceiveBuffer& buffer) override;

  // From any thread: the waiting Receive and every later one that finds no
  // packet at hand return Woken.
  void Wake();

  // Packets the kernel dropped because the ring was full, since the last call.
  std::uint64_t TakeDrops();

 private:
  enum class Event { Ready, Woken, Failed };

  PacketRing(UniqueFd socket, UniqueFd wake, std::uint8_t* ring, unsigned interfaceIndex);
  Event Wait();
  bool BlockReady() const;
  void OpenBlock();
  void ReleaseBlock();
  ReceiveResult TakePacket(ReceiveBuffer& buffer);
  void Pause();

  UniqueFd socket_;
  UniqueFd wake_;
  std::uint8_t* ring_;
  unsigned interfaceIndex_;
  unsigned block_ = 0;                // the oldest block not yet given back
  const std::uint8_t* next_ = nullptr;  // the next packet in it
  std::uint32_t left_ = 0;            // packets of the block not yet taken
};

}  // namespace orvanel
