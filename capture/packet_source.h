// Where the capture loop takes its datagrams from: one datagram per call,
// written into a fixed-size buffer or shown where it already lies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvanel {

// Every datagram is received into a buffer of this size; longer ones are cut.
inline constexpr std::size_t kReceiveBufferSize = 2048;
using ReceiveBuffer = std::array<std::uint8_t, kReceiveBufferSize>;

enum class ReceiveStatus {
  Packet,     // one datagram: at the start of the buffer, or at inPlace
  Failed,     // the receive failed; counted as a receive error
  Woken,      // nothing received (a wake-up or a timeout); the loop tests its flag again
  Exhausted,  // the source has no more packets; the loop ends
};

struct ReceiveResult {
  ReceiveStatus status;
  std::size_t length;              // bytes of the datagram, at most a buffer's size
  std::int64_t captureTimeNs = 0;  // when the packet was captured, since the epoch; 0 when unknown
  // Set by a source that holds the datagram in memory of its own (the
  // kernel's ring, a file's buffer): length bytes lie there until the next
  // Receive, and the buffer is left alone. Saves a copy of every datagram.
  const std::uint8_t* inPlace = nullptr;
};

// One datagram per call. The buffer is all zeros when Receive is called, so
// bytes past a datagram written there read as zero; readers of a datagram in
// place check its length instead.
class PacketSource {
 public:
  virtual ~PacketSource() = default;
  virtual ReceiveResult Receive(ReceiveBuffer& buffer) = 0;
};

}  // namespace orvanel
