#include "session/capture_session.h"

#include <cerrno>

#include "net/socket_helper.h"
#include "session/reopening_ring.h"

namespace orvanel {
namespace {

std::uint32_t AllGroupTotal(const PacketCounters& counters) {
  std::uint32_t total = 0;  // wraps like the counters themselves
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    total += static_cast<std::uint32_t>(counters.Count(TrafficGroup::All, static_cast<ProtocolClass>(protocol)));
  }
  return total;
}

// The ring as the loop sees it: exhausted once the limit was counted.
class LimitedSource final : public PacketSource {
 public:
  LimitedSource(PacketSource& source, const PacketCounters& counters, std::uint32_t limit)
      : source_(source), counters_(counters), limit_(limit), startTotal_(AllGroupTotal(counters)) {}

  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    if (limit_ != 0 && AllGroupTotal(counters_) - startTotal_ >= limit_) return {ReceiveStatus::Exhausted, 0};
    return source_.Receive(buffer);
  }

 private:
  PacketSource& source_;
  const PacketCounters& counters_;
  const std::uint32_t limit_;
  const std::uint32_t startTotal_;
};

}  // namespace

// What one capture owns: its ring and its run of the loop. Each capture has
// its own, so a thread never reads another capture's socket.
struct CaptureSession::Running {
  Running(std::unique_ptr<ReopeningRing> packetRing, const std::atomic<bool>& bCapturing, const LoopTargets& targets,
          const std::string& srcFilter, const std::string& dstFilter, std::uint32_t packetLimit)
      : ring(std::move(packetRing)),
        source(*ring, targets.counters, packetLimit),
        run(bCapturing, source, targets, srcFilter, dstFilter) {}

  void Run() {
    CaptureThreadProc(run.context);
    ring->CountDrops();
    loopLeft.store(true, std::memory_order_release);
    loopLeft.notify_one();
    woken.wait(false, std::memory_order_acquire);  // Stop may still be signalling the ring
    ring.reset();  // closing waits for the kernel; Stop does not wait for this
  }

  std::unique_ptr<ReopeningRing> ring;
  LimitedSource source;
  LoopRun run;
  std::atomic<bool> loopLeft{false};  // the thread touches nothing shared any more
  std::atomic<bool> woken{false};     // Stop is done with the ring
};

CaptureSession::CaptureSession(PacketCounters& counters, const CaptureOptions& options, PacketTable& table,
                               std::string dumpDirectory, ConversationTable* conversations,
                               SaveFailures* saveFailures)
    : targets_{counters, options, table, std::move(dumpDirectory), conversations, saveFailures} {}

CaptureSession::~CaptureSession() {
  StopCapture();
  JoinFinished();
}

StartOutcome CaptureSession::StartCapture(const std::string& chosenAddress, const std::string& srcFilter,
                                          const std::string& dstFilter) {
  if (running_) return {StartResult::Started};
  JoinFinished();  // one capture thread at a time, even right after a Stop
  CaptureSocket opened = AcquireCaptureSocket(chosenAddress);
  if (opened.result != StartResult::Started) return opened.Outcome();
  if (dropCapabilities_ && !DropAllCapabilities()) return {StartResult::SocketCreationFailed, errno};
  std::unique_ptr<PacketRing> mapped = PacketRing::Map(std::move(opened.socket));
  if (!mapped) return {StartResult::ReceiveModeFailed, errno};  // the ring could not be mapped
  tallies_.Zero();
  // Without its right the process cannot open a socket again.
  ReopeningRing::SocketOpener reopen;
  if (!dropCapabilities_) reopen = AcquireCaptureSocket;
  auto ring = std::make_unique<ReopeningRing>(std::move(mapped), chosenAddress, reopen, tallies_);

  running_ = std::make_unique<Running>(std::move(ring), bCapturing_, targets_, srcFilter, dstFilter, packetLimit_);
  targets_.counters.ZeroGroupCounters();
  bCapturing_.store(true, std::memory_order_release);  // before the thread's first test
  running_->run.thread = std::thread(&Running::Run, running_.get());
  return {StartResult::Started};
}

void CaptureSession::StopCapture() {
  if (!running_) return;
  bCapturing_.store(false, std::memory_order_release);
  running_->ring->Wake();
  running_->woken.store(true, std::memory_order_release);
  running_->woken.notify_one();
  running_->loopLeft.wait(false, std::memory_order_acquire);
  finished_ = std::move(running_);
}

void CaptureSession::FinishCapture() {
  if (running_) running_->ring->Finish();
}

bool CaptureSession::LoopEnded() const {
  return running_ && running_->loopLeft.load(std::memory_order_acquire);
}

void CaptureSession::JoinFinished() {
  if (!finished_) return;
  finished_->run.thread.join();
  finished_.reset();
}

}  // namespace orvanel
