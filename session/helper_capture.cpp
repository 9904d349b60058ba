#include "session/helper_capture.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "capture/packet_decode.h"
#include "net/socket_helper.h"

namespace orvanel {
namespace {

// How often the relay looks at the block: the rows and counts the caller
// sees are at most this late.
constexpr int kRelayPeriodMs = 5;
// A helper told to stop leaves within a ring wake-up; this bounds a hung one.
constexpr std::chrono::seconds kStopLimit{3};

// Adds to total what the block's count has grown by since taken.
void AddGrowth(std::atomic<std::uint64_t>& total, std::uint64_t count, std::uint64_t& taken) {
  total.store(total.load(std::memory_order_relaxed) + count - taken, std::memory_order_relaxed);
  taken = count;
}

}  // namespace

StartOutcome HelperCapture::Start(const std::string& helperPath, const std::string& chosenAddress,
                                  const std::string& srcFilter, const std::string& dstFilter, std::uint32_t packetLimit,
                                  const LoopTargets& targets, Totals totals, std::unique_ptr<HelperCapture>& capture) {
  std::unique_ptr<SharedCaptureBlock> shared = SharedCaptureBlock::Create();
  if (!shared) return {StartResult::SocketCreationFailed, errno};
  std::unique_ptr<HelperCapture> started(new HelperCapture(std::move(shared), targets, totals));
  started->MirrorBoxes();  // the first packets are chosen by the boxes as they are now
  HelperProcess helper =
      StartSocketHelper(helperPath, chosenAddress, {srcFilter, dstFilter, packetLimit}, started->shared_->Fd());
  started->shared_->CloseFd();
  if (helper.outcome.result != StartResult::Started) return helper.outcome;
  started->channel_ = std::move(helper.channel);
  started->pid_ = helper.pid;
  capture = std::move(started);
  return {StartResult::Started};
}

HelperCapture::HelperCapture(std::unique_ptr<SharedCaptureBlock> shared, const LoopTargets& targets, Totals totals)
    : shared_(std::move(shared)),
      block_(shared_->Block()),
      targets_(targets),
      totals_(totals),
      rows_(block_),
      counted_(block_),
      files_(targets.dumpDirectory) {
  totals_.kernelDrops.store(0, std::memory_order_relaxed);
}

HelperCapture::~HelperCapture() {
  if (!relay_.joinable() && pid_ > 0) kill(pid_, SIGKILL);  // started, never run
  Stop();
}

void HelperCapture::Run() { relay_ = std::thread(&HelperCapture::Relay, this); }

void HelperCapture::Finish() { SendCommand(kFinishCommand); }

void HelperCapture::Stop() {
  if (!relay_.joinable()) {
    if (pid_ > 0) ReapSocketHelper(std::exchange(pid_, -1));
    return;
  }
  SendCommand(kStopCommand);
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  while (!helperEnded_.load(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);  // its channel closes with it, which ends the relay
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  relay_.join();
  ReapSocketHelper(std::exchange(pid_, -1));
}

void HelperCapture::SendCommand(std::uint8_t command) {
  // Fails only when the helper is gone, which the relay sees by itself.
  [[maybe_unused]] const ssize_t sent = send(channel_.get(), &command, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Until the helper ends: its channel closes then, whether it stopped,
// crashed or was killed by its own seccomp filter.
void HelperCapture::Relay() {
  bool channelClosed = false;
  for (;;) {
    const bool loopEnded = block_.loopLeft.load(std::memory_order_acquire) != 0;
    MirrorBoxes();
    // Rows and conversations first: a count never runs ahead of them.
    if (!TakeRows() || !TakeCounted()) kill(pid_, SIGKILL);  // the block is not what our helper writes
    TakeCounts();
    if (loopEnded) loopLeft_.store(true, std::memory_order_release);
    if (channelClosed) break;
    pollfd channel{channel_.get(), POLLIN, 0};
    if (poll(&channel, 1, kRelayPeriodMs) > 0) {
      char byte;
      const ssize_t received = recv(channel_.get(), &byte, 1, MSG_DONTWAIT);
      channelClosed = received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR);
    }
  }
  // Ended before its loop did: the capture failed, as a receive does.
  if (!block_.loopLeft.load(std::memory_order_acquire)) targets_.counters.AddReceiveErrors(1);
  loopLeft_.store(true, std::memory_order_release);
  helperEnded_.store(true, std::memory_order_release);
}

bool HelperCapture::TakeRows() {
  return rows_.Drain([this](std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
    const IpHeaderView view = DecodeHeader(datagram);
    const ListedRow row = ListedRowOf(view, datagram, captureTimeNs);
    targets_.table.AddRow(row);
    if (targets_.options.State(CaptureOption::SaveLast) != kChecked) return;
    padded_.fill(0);
    std::memcpy(padded_.data(), datagram.data(), datagram.size());
    files_.SaveLastPacket(row.protocol, padded_, view);
  });
}

bool HelperCapture::TakeCounted() { return counted_.Drain(targets_.conversations); }

void HelperCapture::TakeCounts() {
  const PacketCounters& counted = block_.counters;
  for (int group = 0; group < kTrafficGroupCount; ++group) {
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      const auto trafficGroup = static_cast<TrafficGroup>(group + 1);
      const auto protocolClass = static_cast<ProtocolClass>(protocol);
      const std::uint64_t packets = counted.RunningTotal(trafficGroup, protocolClass);
      const std::uint64_t bytes = counted.RunningBytes(trafficGroup, protocolClass);
      std::uint64_t& packetsTaken = packetsTaken_[group][protocol];
      std::uint64_t& bytesTaken = bytesTaken_[group][protocol];
      if (packets == packetsTaken && bytes == bytesTaken) continue;
      targets_.counters.Add(trafficGroup, protocolClass, packets - packetsTaken, bytes - bytesTaken);
      packetsTaken = packets;
      bytesTaken = bytes;
    }
  }
  const std::uint64_t errors = counted.RunningReceiveErrors();
  targets_.counters.AddReceiveErrors(errors - errorsTaken_);
  errorsTaken_ = errors;
  AddGrowth(totals_.rowsNotPassed, block_.rowsNotPassed.load(std::memory_order_relaxed), notPassedTaken_);
  AddGrowth(totals_.countedNotPassed, block_.countedNotPassed.load(std::memory_order_relaxed), countedNotPassedTaken_);
  totals_.kernelDrops.store(block_.kernelDrops.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void HelperCapture::MirrorBoxes() {
  for (int option = 0; option < kCaptureOptionCount; ++option) {
    block_.boxes[option].store(targets_.options.State(static_cast<CaptureOption>(option)), std::memory_order_relaxed);
  }
}

}  // namespace orvanel
