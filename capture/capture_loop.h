// The capture thread's loop: receive, decode, classify and count, choose rows.
#pragma once

#include <atomic>
#include <string>

#include "capture/capture_options.h"
#include "capture/counted_packet_sink.h"
#include "capture/counters.h"
#include "capture/last_packet_sink.h"
#include "capture/listed_row.h"
#include "capture/packet_source.h"

namespace orvanel {

// What the capture thread reads and writes; the filters are fixed for a capture.
struct CaptureContext {
  const std::atomic<bool>& bCapturing;
  PacketSource& source;
  PacketCounters& counters;
  const CaptureOptions& options;
  PacketTable& table;
  std::string srcFilter;
  std::string dstFilter;
  LastPacketSink* lastPacketFiles = nullptr;   // none: listed packets are not written
  CountedPacketSink* conversations = nullptr;  // none: conversations are not kept
};

// Runs until bCapturing is found clear (or the source is exhausted); returns 0.
int CaptureThreadProc(const CaptureContext& context);

}  // namespace orvanel
