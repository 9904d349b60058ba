#include "capture_session.h"

#include <thread>

#include "capture/capture_loop.h"
#include "capture/last_packet.h"
#include "net/capture_socket.h"
#include "net/packet_ring.h"

namespace orvanel {

// What one capture owns: its ring, its files, its context and its thread.
// Each capture has its own, so a thread never reads another capture's socket.
struct CaptureSession::Running {
  Running(std::unique_ptr<PacketRing> packetRing, const std::atomic<bool>& bCapturing, PacketCounters& counters,
          const CaptureOptions& options, PacketTable& table, const std::string& srcFilter,
          const std::string& dstFilter, const std::string& dumpDirectory)
      : ring(std::move(packetRing)),
        files(dumpDirectory),
        context{bCapturing, *ring, counters, options, table, srcFilter, dstFilter, &files} {}

  std::unique_ptr<PacketRing> ring;
  LastPacketFiles files;
  CaptureContext context;
  std::thread thread;
};

CaptureSession::CaptureSession(PacketCounters& counters, const CaptureOptions& options, PacketTable& table,
                               std::string dumpDirectory)
    : counters_(counters), options_(options), table_(table), dumpDirectory_(std::move(dumpDirectory)) {}

CaptureSession::~CaptureSession() { StopCapture(); }

StartResult CaptureSession::StartCapture(const std::string& chosenAddress, const std::string& srcFilter,
                                         const std::string& dstFilter) {
  if (running_) return StartResult::Started;
  CaptureSocket opened = OpenCaptureSocket(chosenAddress);
  if (opened.result != StartResult::Started) return opened.result;
  std::unique_ptr<PacketRing> ring = PacketRing::Map(std::move(opened.socket));
  if (!ring) return StartResult::ReceiveModeFailed;

  running_ = std::make_unique<Running>(std::move(ring), bCapturing_, counters_, options_, table_, srcFilter,
                                       dstFilter, dumpDirectory_);
  counters_.ZeroGroupCounters();
  bCapturing_.store(true, std::memory_order_release);  // before the thread's first test
  running_->thread = std::thread(CaptureThreadProc, std::cref(running_->context));
  return StartResult::Started;
}

void CaptureSession::StopCapture() {
  if (!running_) return;
  bCapturing_.store(false, std::memory_order_release);
  running_->ring->Wake();
  running_->thread.join();
  kernelDrops_ = running_->ring->TakeDrops();
  running_.reset();  // unmaps the ring and closes the socket
}

}  // namespace orvanel
