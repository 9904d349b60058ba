#include "net/packet_ring.h"

#include <linux/if_packet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace orvanel {
namespace {

constexpr int kFailurePauseMs = 10;
// Once the link went down, how often an idle wait asks whether the interface is still there.
constexpr int kGoneCheckMs = 1000;

unsigned BoundInterface(int fd) {
  sockaddr_ll address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.sll_ifindex > 0) return static_cast<unsigned>(address.sll_ifindex);
  errno = ENODEV;  // not bound to an interface
  return 0;
}

std::atomic_ref<std::uint32_t> BlockStatus(std::uint8_t* block) {
  return std::atomic_ref<std::uint32_t>(reinterpret_cast<tpacket_block_desc*>(block)->hdr.bh1.block_status);
}

}  // namespace

std::unique_ptr<PacketRing> PacketRing::Map(UniqueFd socket) {
  const unsigned interfaceIndex = BoundInterface(socket.get());
  if (interfaceIndex == 0) return nullptr;
  UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.valid()) return nullptr;
  void* ring = mmap(nullptr, kRingBytes, PROT_READ | PROT_WRITE, MAP_SHARED, socket.get(), 0);
  if (ring == MAP_FAILED) return nullptr;
  return std::unique_ptr<PacketRing>(
      new PacketRing(std::move(socket), std::move(wake), static_cast<std::uint8_t*>(ring), interfaceIndex));
}

PacketRing::PacketRing(UniqueFd socket, UniqueFd wake, std::uint8_t* ring, unsigned interfaceIndex)
    : socket_(std::move(socket)), wake_(std::move(wake)), ring_(ring), interfaceIndex_(interfaceIndex) {}

PacketRing::~PacketRing() { munmap(ring_, kRingBytes); }

ReceiveResult PacketRing::Receive(ReceiveBuffer&) {
  // The last datagram handed out lay in this block until now.
  if (left_ == 0 && next_) ReleaseBlock();
  while (left_ == 0) {
    const bool finishing = finishing_.load(std::memory_order_acquire);
    if (finishing && blocksBeforeFinish_ == 0) return {ReceiveStatus::Exhausted, 0};
    if (BlockReady()) {
      if (finishing) --blocksBeforeFinish_;
      OpenBlock();
      continue;  // a block may hold no packet
    }
    if (finishing) {
      if (FinishedWaiting()) return {ReceiveStatus::Exhausted, 0};
      continue;
    }
    switch (Wait()) {
      case Event::LookAgain: break;
      case Event::Woken: return {ReceiveStatus::Woken, 0};
      case Event::Failed: Pause(); return {ReceiveStatus::Failed, 0};
      case Event::Gone: interfaceGone_ = true; return {ReceiveStatus::Exhausted, 0};
    }
  }
  return TakePacket();
}

void PacketRing::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof one);  // full only if woken already
}

void PacketRing::Finish() {
  finishing_.store(true, std::memory_order_release);
  Wake();
}

void PacketRing::CountDrops() {
  // Each read hands over the kernel's counts and zeroes them.
  tpacket_stats_v3 statistics{};
  socklen_t length = sizeof statistics;
  if (!dropTotal_ || getsockopt(socket_.get(), SOL_PACKET, PACKET_STATISTICS, &statistics, &length) != 0) return;
  dropTotal_->fetch_add(statistics.tp_drops, std::memory_order_relaxed);
}

PacketRing::Event PacketRing::Wait() {
  pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
  const int ready = poll(fds, 2, linkWentDown_ ? kGoneCheckMs : -1);
  if (ready < 0) return errno == EINTR ? Event::LookAgain : Event::Failed;
  if (fds[1].revents) {
    // Taken, so that the next wait waits again: a woken loop looks at what
    // it was woken for (its running flag, or work handed to it) first.
    std::uint64_t wakes = 0;
    [[maybe_unused]] const ssize_t taken = read(wake_.get(), &wakes, sizeof wakes);
    return Event::Woken;
  }
  // The kernel unbinds the socket when its interface is deleted, a moment
  // after it reported the link down.
  if (ready == 0) return BoundInterface(socket_.get()) == interfaceIndex_ ? Event::LookAgain : Event::Gone;
  if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
    // Reading the error clears it: a link that was only taken down reports once.
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    linkWentDown_ = true;
    return BoundInterface(socket_.get()) == interfaceIndex_ ? Event::Failed : Event::Gone;
  }
  return Event::LookAgain;
}

// The block being filled when the capture was told to finish is handed over
// within one block timeout (twice that covers the kernel timer's
// granularity). Once it was waited for, no packet at hand means done.
bool PacketRing::FinishedWaiting() {
  if (awaitedLastBlock_) return true;
  awaitedLastBlock_ = true;
  pollfd ready{socket_.get(), POLLIN, 0};
  poll(&ready, 1, 2 * kRingBlockTimeoutMs);
  return false;
}

bool PacketRing::PacketAtHand() const {
  if (left_ > 0) return true;
  // The block of the last packet handed out is given back first.
  const unsigned next = next_ ? (block_ + 1) % kRingBlockCount : block_;
  return (BlockStatus(ring_ + std::size_t{next} * kRingBlockSize).load(std::memory_order_acquire) & TP_STATUS_USER) !=
         0;
}

bool PacketRing::BlockReady() const {
  return (BlockStatus(ring_ + std::size_t{block_} * kRingBlockSize).load(std::memory_order_acquire) & TP_STATUS_USER) !=
         0;
}

void PacketRing::OpenBlock() {
  std::uint8_t* block = ring_ + std::size_t{block_} * kRingBlockSize;
  const tpacket_hdr_v1& header = reinterpret_cast<const tpacket_block_desc*>(block)->hdr.bh1;
  left_ = header.num_pkts;
  next_ = block + header.offset_to_first_pkt;
  if (left_ == 0) ReleaseBlock();
}

void PacketRing::ReleaseBlock() {
  BlockStatus(ring_ + std::size_t{block_} * kRingBlockSize).store(TP_STATUS_KERNEL, std::memory_order_release);
  block_ = (block_ + 1) % kRingBlockCount;
  next_ = nullptr;
  CountDrops();
}

// The datagram stays where the kernel put it: its block is given back only
// at the next Receive.
ReceiveResult PacketRing::TakePacket() {
  const auto* packet = reinterpret_cast<const tpacket3_hdr*>(next_);
  const std::size_t length = std::min<std::size_t>(packet->tp_snaplen, kReceiveBufferSize);
  const std::uint8_t* datagram = next_ + packet->tp_net;
  if (--left_ > 0) next_ += packet->tp_next_offset;
  const std::int64_t time = std::int64_t{packet->tp_sec} * 1'000'000'000 + packet->tp_nsec;
  return {ReceiveStatus::Packet, length, time, datagram};
}

void PacketRing::Pause() {
  pollfd wake{wake_.get(), POLLIN, 0};
  poll(&wake, 1, kFailurePauseMs);  // a Stop ends the pause early
}

}  // namespace orvanel
