#include "session/capture_session.h"

#include <cerrno>

#include "capture/limited_source.h"
#include "net/capture_socket.h"
#include "net/packet_ring.h"
#include "net/socket_helper.h"
#include "session/helper_capture.h"
#include "session/reopening_ring.h"

namespace orvanel {

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
    ring.reset();                                  // closing waits for the kernel; Stop does not wait for this
  }

  std::unique_ptr<ReopeningRing> ring;
  LimitedSource source;
  LoopRun run;
  std::atomic<bool> loopLeft{false};  // the thread touches nothing shared any more
  std::atomic<bool> woken{false};     // Stop is done with the ring
};

CaptureSession::CaptureSession(PacketCounters& counters, const CaptureOptions& options, PacketTable& table,
                               std::string dumpDirectory, ConversationTable* conversations, SaveFailures* saveFailures)
    : targets_{counters, options, table, std::move(dumpDirectory), conversations, saveFailures} {}

CaptureSession::~CaptureSession() {
  StopCapture();
  JoinFinished();
}

StartOutcome CaptureSession::StartCapture(const std::string& chosenAddress, const std::string& srcFilter,
                                          const std::string& dstFilter) {
  if (running_ || helper_) return {StartResult::Started};
  JoinFinished();  // one capture thread at a time, even right after a Stop
  if (!HoldsCaptureRight()) return StartInHelper(chosenAddress, srcFilter, dstFilter);
  CaptureSocket opened = OpenCaptureSocket(chosenAddress);
  if (opened.result != StartResult::Started) return opened.Outcome();
  if (dropCapabilities_ && !DropAllCapabilities()) return {StartResult::SocketCreationFailed, errno};
  std::unique_ptr<PacketRing> mapped = PacketRing::Map(std::move(opened.socket));
  if (!mapped) return {StartResult::ReceiveModeFailed, errno};  // the ring could not be mapped
  tallies_.Zero();
  // Without its right the process cannot open a socket again.
  ReopeningRing::SocketOpener reopen;
  if (!dropCapabilities_) reopen = OpenCaptureSocket;
  auto ring = std::make_unique<ReopeningRing>(std::move(mapped), chosenAddress, reopen, tallies_);

  running_ = std::make_unique<Running>(std::move(ring), bCapturing_, targets_, srcFilter, dstFilter, packetLimit_);
  targets_.counters.ZeroGroupCounters();
  bCapturing_.store(true, std::memory_order_release);  // before the thread's first test
  running_->run.thread = std::thread(&Running::Run, running_.get());
  return {StartResult::Started};
}

StartOutcome CaptureSession::StartInHelper(const std::string& chosenAddress, const std::string& srcFilter,
                                           const std::string& dstFilter) {
  tallies_.Zero();
  const StartOutcome started = HelperCapture::Start(
      helperPath_.empty() ? FindSocketHelper() : helperPath_, chosenAddress, srcFilter, dstFilter, packetLimit_,
      targets_, {tallies_.kernelDrops, tallies_.interruptions, rowsNotPassed_, countedNotPassed_}, helper_);
  if (started.result != StartResult::Started) return started;
  targets_.counters.ZeroGroupCounters();
  bCapturing_.store(true, std::memory_order_release);
  helper_->Run();
  return started;
}

void CaptureSession::StopCapture() {
  if (helper_) {
    bCapturing_.store(false, std::memory_order_release);
    helper_->Stop();
    helper_.reset();
  }
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
  if (helper_) helper_->Finish();
}

bool CaptureSession::LoopEnded() const {
  if (helper_) return helper_->LoopLeft();
  return running_ && running_->loopLeft.load(std::memory_order_acquire);
}

pid_t CaptureSession::HelperPid() const { return helper_ ? helper_->HelperPid() : -1; }

void CaptureSession::JoinFinished() {
  if (!finished_) return;
  finished_->run.thread.join();
  finished_.reset();
}

}  // namespace orvanel
