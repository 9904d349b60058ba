// Where the capture loop takes its datagrams from: one datagram per call into
// a fixed-size buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvanel {

// Every datagram is received into a buffer of this size; longer ones are cut.
inline constexpr std::size_t kReceiveBufferSize = 2048;
using ReceiveBuffer = std::array<std::uint8_t, kReceiveBufferSize>;

enum class ReceiveStatus {
  Packet,     // one datagram is at the start of the buffer
  Failed,     // the receive failed; counted as a receive error
  Woken,      // nothing received (a wake-up or a timeout); the loop tests its flag again
  Exhausted,  // the source has no more packets; the loop ends
};

struct ReceiveResult {
  ReceiveStatus status;
  std::size_t length;               // bytes written to the buffer, at most its size
  std::int64_t captureTimeNs = 0;  // when the packet was captured, since the epoch; 0 when unknown
};

// One datagram per call. The buffer is all zeros when Receive is called, so
// bytes past the datagram read as zero.
class PacketSource {
 public:
  virtual ~PacketSource() = default;
  virtual ReceiveResult Receive(ReceiveBuffer& buffer) = 0;
};

}  // namespace orvanel
