#include "session/reopening_ring.h"

#include "net/local_addresses.h"

namespace orvanel {
namespace {

constexpr std::chrono::seconds kLookupPeriod{1};

}  // namespace

ReopeningRing::ReopeningRing(std::unique_ptr<PacketRing> ring, std::string address, SocketOpener reopen,
                             RingTallies& tallies)
    : address_(std::move(address)), reopen_(std::move(reopen)), tallies_(tallies) {
  Install(std::move(ring));
}

ReceiveResult ReopeningRing::Receive(ReceiveBuffer& buffer) {
  if (ring_) {
    const ReceiveResult result = ring_->Receive(buffer);
    if (result.status != ReceiveStatus::Exhausted || !ring_->InterfaceGone()) return result;
    tallies_.interruptions.fetch_add(1, std::memory_order_relaxed);
    ring_->CountDrops();
    std::unique_ptr<PacketRing> gone;
    {
      const std::lock_guard lock(mutex_);
      gone = std::move(ring_);
    }
    gone.reset();  // closing waits for the kernel: not under the lock
    if (!reopen_) {
      tallies_.interfaceLost.store(true, std::memory_order_release);
      return {ReceiveStatus::Exhausted, 0};
    }
    nextLookup_ = Clock::now();
  }
  return AwaitAddress();
}

void ReopeningRing::Wake() {
  const std::lock_guard lock(mutex_);
  woken_ = true;
  if (ring_) ring_->Wake();
  signalled_.notify_one();
}

void ReopeningRing::Finish() {
  const std::lock_guard lock(mutex_);
  finishing_ = true;
  if (ring_) ring_->Finish();
  signalled_.notify_one();
}

void ReopeningRing::CountDrops() {
  if (ring_) ring_->CountDrops();
}

void ReopeningRing::Install(std::unique_ptr<PacketRing> ring) {
  ring->CountDropsIn(tallies_.kernelDrops);
  const std::lock_guard lock(mutex_);
  ring_ = std::move(ring);
  if (woken_) ring_->Wake();
  if (finishing_) ring_->Finish();
}

// Nothing was captured while the interface was gone, so a Finish ends here.
ReceiveResult ReopeningRing::AwaitAddress() {
  {
    std::unique_lock lock(mutex_);
    signalled_.wait_until(lock, nextLookup_, [this] { return woken_ || finishing_; });
    if (finishing_) return {ReceiveStatus::Exhausted, 0};
    if (woken_) return {ReceiveStatus::Woken, 0};
  }
  nextLookup_ = Clock::now() + kLookupPeriod;
  if (std::unique_ptr<PacketRing> ring = Reopen()) Install(std::move(ring));
  return {ReceiveStatus::Woken, 0};
}

// The cheap look first: the opener may have to start the helper.
std::unique_ptr<PacketRing> ReopeningRing::Reopen() const {
  if (!IsLocalAddress(address_)) return nullptr;
  CaptureSocket opened = reopen_(address_);
  if (opened.result != StartResult::Started) return nullptr;
  return PacketRing::Map(std::move(opened.socket));
}

}  // namespace orvanel
