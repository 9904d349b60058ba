// The capture thread's loop: receive, decode, classify and count, choose rows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture.h"
#include "last_packet.h"
#include "listed_row.h"

namespace orvanel {

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

// What the capture thread reads and writes; the filters are fixed for a capture.
struct CaptureContext {
  const std::atomic<bool>& bCapturing;
  PacketSource& source;
  PacketCounters& counters;
  const CaptureOptions& options;
  PacketTable& table;
  std::string srcFilter;
  std::string dstFilter;
  LastPacketFiles* lastPacketFiles = nullptr;  // none: listed packets are not written
};

// Runs until bCapturing is found clear (or the source is exhausted); returns 0.
int CaptureThreadProc(const CaptureContext& context);

}  // namespace orvanel
