#include "session/helper_capture.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "net/capture_block.h"
#include "net/counted_ring.h"
#include "net/local_addresses.h"
#include "net/row_ring.h"
#include "net/socket_helper.h"

namespace orvanel {
namespace {

// How often the relay looks at the block: the rows and counts the caller
// sees are at most this late.
constexpr int kRelayPeriodMs = 5;
// A helper told to stop leaves within a ring wake-up; this bounds a hung one.
constexpr std::chrono::seconds kStopLimit{3};
// While the interface is gone, how often the address is looked up.
constexpr std::chrono::seconds kLookupPeriod{1};

// Adds to total what the block's count has grown by since taken.
void AddGrowth(std::atomic<std::uint64_t>& total, std::uint64_t count, std::uint64_t& taken) {
  total.store(total.load(std::memory_order_relaxed) + count - taken, std::memory_order_relaxed);
  taken = count;
}

bool SendCommand(int channel, std::uint8_t command) {
  return send(channel, &command, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
}

}  // namespace

// One helper process, its channel and block, and what was taken from the block.
struct HelperCapture::Helper {
  explicit Helper(std::unique_ptr<SharedCaptureBlock> made)
      : shared(std::move(made)), block(shared->Block()), rows(block), counted(block) {}

  std::unique_ptr<SharedCaptureBlock> shared;
  CaptureBlock& block;
  UniqueFd channel;
  pid_t pid = -1;
  RowRingReader rows;
  CountedRingReader counted;
  std::uint64_t listFilesSent = 0;
  PerGroupAndClass<std::uint64_t> packetsTaken{};
  PerGroupAndClass<std::uint64_t> bytesTaken{};
  std::uint64_t errorsTaken = 0;
  std::uint64_t notPassedTaken = 0;
  std::uint64_t countedNotPassedTaken = 0;
};

StartOutcome HelperCapture::Start(const std::string& helperPath, const std::string& chosenAddress,
                                  const std::string& srcFilter, const std::string& dstFilter, std::uint32_t packetLimit,
                                  const LoopTargets& targets, Totals totals, std::unique_ptr<HelperCapture>& capture) {
  std::unique_ptr<HelperCapture> started(
      new HelperCapture(helperPath, chosenAddress, srcFilter, dstFilter, packetLimit, targets, totals));
  const StartOutcome outcome = started->StartHelper();
  if (outcome.result == StartResult::Started) capture = std::move(started);
  return outcome;
}

HelperCapture::HelperCapture(const std::string& helperPath, const std::string& chosenAddress,
                             const std::string& srcFilter, const std::string& dstFilter, std::uint32_t packetLimit,
                             const LoopTargets& targets, Totals totals)
    : helperPath_(helperPath),
      address_(chosenAddress),
      srcFilter_(srcFilter),
      dstFilter_(dstFilter),
      packetLimit_(packetLimit),
      targets_(targets),
      // Rows go straight into a spool's files; any other table gets them through the block.
      spool_(dynamic_cast<RowSpool*>(&targets.table)),
      totals_(totals),
      files_(targets.dumpDirectory, targets.saveFailures) {
  totals_.kernelDrops.store(0, std::memory_order_relaxed);
  totals_.interruptions.store(0, std::memory_order_relaxed);
}

HelperCapture::~HelperCapture() { Stop(); }

// A helper on the address, with the boxes as they are now and the list
// files as far as they are filled.
StartOutcome HelperCapture::StartHelper() {
  std::unique_ptr<SharedCaptureBlock> shared = SharedCaptureBlock::Create();
  if (!shared) return {StartResult::SocketCreationFailed, errno};
  auto helper = std::make_unique<Helper>(std::move(shared));
  MirrorBoxes(*helper);
  const ListFilesToPass files = spool_ ? PassListFiles(*helper) : ListFilesToPass();
  const std::uint32_t limit = packetLimit_ == 0 ? 0 : packetLimit_ - static_cast<std::uint32_t>(allCounted_);
  HelperProcess process = StartSocketHelper(helperPath_, address_, {srcFilter_, dstFilter_, limit, spool_ != nullptr},
                                            helper->shared->Fd(), files);
  helper->shared->CloseFd();
  if (process.outcome.result != StartResult::Started) return process.outcome;
  helper->channel = std::move(process.channel);
  helper->pid = process.pid;
  const std::lock_guard lock(mutex_);
  helper_ = std::move(helper);
  pid_.store(process.pid, std::memory_order_relaxed);
  if (stopping_) Send(kStopCommand);  // asked while this one started
  if (finishing_) Send(kFinishCommand);
  return {StartResult::Started};
}

void HelperCapture::Run() {
  relay_ = std::thread(&HelperCapture::Relay, this);
  pthread_setname_np(relay_.native_handle(), "orvanel-relay");  // its CPU time can be told apart
}

void HelperCapture::Finish() {
  {
    const std::lock_guard lock(mutex_);
    finishing_ = true;
    Send(kFinishCommand);
  }
  commanded_.notify_all();
}

void HelperCapture::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    Send(kStopCommand);
  }
  commanded_.notify_all();
  if (!relay_.joinable()) {  // never run, or stopped already
    if (helper_ && helper_->pid > 0) {
      kill(helper_->pid, SIGKILL);
      ReapSocketHelper(std::exchange(helper_->pid, -1));
      pid_.store(-1, std::memory_order_relaxed);
    }
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  while (!ended_.load(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() > deadline) {
      const std::lock_guard lock(mutex_);
      // Its channel closes with it, which ends the relay.
      if (helper_ && helper_->pid > 0) kill(helper_->pid, SIGKILL);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  relay_.join();
}

// Under mutex_. Fails only when the helper is gone, which the relay sees by itself.
void HelperCapture::Send(std::uint8_t command) {
  if (helper_) SendCommand(helper_->channel.get(), command);
}

void HelperCapture::Relay() {
  while (RelayUntilItEnds(*helper_) && StartAgainWhereTheAddressIs()) {}
  loopLeft_.store(true, std::memory_order_release);
  ended_.store(true, std::memory_order_release);
}

// Until the helper ends: its channel closes then, whether it stopped,
// crashed or was killed by its own seccomp filter. True when it ended
// because its interface went away.
bool HelperCapture::RelayUntilItEnds(Helper& helper) {
  CaptureBlock& block = helper.block;
  bool channelClosed = false;
  bool stopSent = false;
  for (;;) {
    const bool loopEnded = block.loopLeft.load(std::memory_order_acquire) != 0;
    MirrorBoxes(helper);
    // Rows and conversations first: a count never runs ahead of them.
    const bool rowsTaken = spool_ ? TakeListed(helper) : TakeRows(helper);
    if (!rowsTaken || !helper.counted.Drain(targets_.conversations)) {
      kill(helper.pid, SIGKILL);  // the block is not what our helper writes
    }
    TakeCounts(helper);
    if (loopEnded && block.interfaceGone.load(std::memory_order_relaxed) == 0) {
      loopLeft_.store(true, std::memory_order_release);
    } else if (loopEnded && !stopSent) {
      // The interface went away: this helper is done, and another one takes over.
      stopSent = SendCommand(helper.channel.get(), kStopCommand);
    }
    if (channelClosed) break;
    pollfd channel{helper.channel.get(), POLLIN, 0};
    if (poll(&channel, 1, kRelayPeriodMs) > 0) {
      char byte;
      const ssize_t received = recv(helper.channel.get(), &byte, 1, MSG_DONTWAIT);
      channelClosed = received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR);
    }
  }
  {
    const std::lock_guard lock(mutex_);
    pid_.store(-1, std::memory_order_relaxed);
    ReapSocketHelper(std::exchange(helper.pid, -1));
  }
  // Ended before its loop did: the capture failed, as a receive does.
  if (!block.loopLeft.load(std::memory_order_acquire)) {
    targets_.counters.AddReceiveErrors(1);
    return false;
  }
  dropsBefore_ = totals_.kernelDrops.load(std::memory_order_relaxed);
  return block.interfaceGone.load(std::memory_order_relaxed) != 0;
}

// The interface went away: once a second, whether the address is on an
// interface again, and then a new helper there, going on where the last
// one ended. False when stopped or finished first, or when a helper cannot
// be had there.
bool HelperCapture::StartAgainWhereTheAddressIs() {
  totals_.interruptions.store(totals_.interruptions.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (packetLimit_ != 0 && allCounted_ >= packetLimit_) return false;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (commanded_.wait_for(lock, kLookupPeriod, [&] { return stopping_ || finishing_; })) return false;
    }
    if (!IsLocalAddress(address_)) continue;
    const StartOutcome outcome = StartHelper();
    if (outcome.result == StartResult::Started) return true;
    // Gone again before the helper looked: wait for it once more.
    if (outcome.result != StartResult::NoAddressChosen) {
      targets_.counters.AddReceiveErrors(1);
      return false;
    }
  }
}

bool HelperCapture::TakeRows(Helper& helper) {
  return helper.rows.Drain([this](std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
    const IpHeaderView view = DecodeHeader(datagram);
    const ListedRow row = ListedRowOf(view, datagram, captureTimeNs);
    targets_.table.AddRow(row);
    SaveLast(view, row);
  });
}

// Publishes what the helper appended to the list files it was handed last,
// once it has taken them; after a Clear it is handed the fresh ones, and
// what it appends to the cleared ones meanwhile is cleared with them.
bool HelperCapture::TakeListed(Helper& helper) {
  if (spool_->WriterFiles() != passed_) {
    // A helper gone meanwhile fails this; the relay sees it by itself.
    [[maybe_unused]] const bool sent = SendListFiles(helper.channel.get(), PassListFiles(helper));
  }
  if (!passed_ || helper.block.listFilesTaken.load(std::memory_order_acquire) != helper.listFilesSent) return true;
  const std::size_t published = passed_->RowCount();
  const std::uint64_t rows = helper.block.listRows.load(std::memory_order_acquire);
  if (!passed_->Publish(rows, helper.block.listDataUsed.load(std::memory_order_relaxed))) return false;
  if (targets_.options.State(CaptureOption::SaveLast) == kChecked) {
    for (std::size_t index = published; index < passed_->RowCount(); ++index) {
      const SpoolFiles::StoredRow stored = passed_->Row(index);
      const IpHeaderView view = DecodeHeader(stored.datagram);
      SaveLast(view, ListedRowOf(view, stored.datagram, stored.captureTimeNs));
    }
  }
  PublishRoom(helper);
  return true;
}

// The spool's files rows go to now, with their room, to hand to the helper.
ListFilesToPass HelperCapture::PassListFiles(Helper& helper) {
  passed_ = spool_->WriterFiles();
  ++helper.listFilesSent;
  if (!passed_) return {};
  PublishRoom(helper);
  return {passed_->DataFd(), passed_->IndexFd(), passed_->RowCount(), passed_->DataUsed(), passed_->ClearedAtNs()};
}

// The helper reads the room only for the files it appends to: roomFiles
// says which, and 0 while the sizes change.
void HelperCapture::PublishRoom(Helper& helper) {
  const SpoolFiles::Room room = passed_->KeepRoomAhead();
  CaptureBlock& block = helper.block;
  // Sequentially consistent, as the helper's reads: a sequence lock without fences.
  block.roomFiles.store(0);
  block.dataRoom.store(room.dataBytes);
  block.indexRoom.store(room.indexBytes);
  block.roomFiles.store(helper.listFilesSent);
}

void HelperCapture::SaveLast(const IpHeaderView& view, const ListedRow& row) {
  if (targets_.options.State(CaptureOption::SaveLast) != kChecked) return;
  padded_.fill(0);
  std::memcpy(padded_.data(), row.datagram.data(), row.datagram.size());
  files_.SaveLastPacket(row.protocol, padded_, view);
}

void HelperCapture::TakeCounts(Helper& helper) {
  const PacketCounters& counted = helper.block.counters;
  for (int group = 0; group < kTrafficGroupCount; ++group) {
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      const auto trafficGroup = static_cast<TrafficGroup>(group + 1);
      const auto protocolClass = static_cast<ProtocolClass>(protocol);
      const std::uint64_t packets = counted.RunningTotal(trafficGroup, protocolClass);
      const std::uint64_t bytes = counted.RunningBytes(trafficGroup, protocolClass);
      std::uint64_t& packetsTaken = helper.packetsTaken[group][protocol];
      std::uint64_t& bytesTaken = helper.bytesTaken[group][protocol];
      if (packets == packetsTaken && bytes == bytesTaken) continue;
      targets_.counters.Add(trafficGroup, protocolClass, packets - packetsTaken, bytes - bytesTaken);
      if (trafficGroup == TrafficGroup::All) allCounted_ += packets - packetsTaken;
      packetsTaken = packets;
      bytesTaken = bytes;
    }
  }
  const std::uint64_t errors = counted.RunningReceiveErrors();
  targets_.counters.AddReceiveErrors(errors - helper.errorsTaken);
  helper.errorsTaken = errors;
  AddGrowth(totals_.rowsNotPassed, helper.block.rowsNotPassed.load(std::memory_order_relaxed), helper.notPassedTaken);
  AddGrowth(totals_.countedNotPassed, helper.block.countedNotPassed.load(std::memory_order_relaxed),
            helper.countedNotPassedTaken);
  totals_.kernelDrops.store(dropsBefore_ + helper.block.kernelDrops.load(std::memory_order_relaxed),
                            std::memory_order_relaxed);
}

void HelperCapture::MirrorBoxes(Helper& helper) {
  for (int option = 0; option < kCaptureOptionCount; ++option) {
    helper.block.boxes[option].store(targets_.options.State(static_cast<CaptureOption>(option)),
                                     std::memory_order_relaxed);
  }
}

}  // namespace orvanel
