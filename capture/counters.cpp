#include "capture.h"

namespace orvanel {
namespace {

bool IsGroup(TrafficGroup group) {
  const int value = static_cast<int>(group);
  return value >= 1 && value <= kTrafficGroupCount;
}

int GroupIndex(TrafficGroup group) { return static_cast<int>(group) - 1; }

}  // namespace

// fetch_add is one atomic step, so a zeroing in between is never overwritten
// by a stale value; signed atomic arithmetic wraps at the 32-bit limit.
void PacketCounters::CountPacket(TrafficGroup group, std::uint8_t protocolByte) {
  if (!IsGroup(group)) return;
  counts_[GroupIndex(group)][static_cast<int>(ClassOfProtocol(protocolByte))].fetch_add(
      1, std::memory_order_relaxed);
}

void PacketCounters::CountReceiveError() { receiveErrors_.fetch_add(1, std::memory_order_relaxed); }

void PacketCounters::Zero(std::atomic<std::int32_t>& counter) { counter.store(0, std::memory_order_relaxed); }

void PacketCounters::ZeroGroup(TrafficGroup group) {
  for (auto& counter : counts_[GroupIndex(group)]) Zero(counter);
}

void PacketCounters::ZeroGroupCounters() {
  ZeroGroup(TrafficGroup::Source);
  ZeroGroup(TrafficGroup::Destination);
  ZeroGroup(TrafficGroup::Other);
}

void PacketCounters::ZeroTotals() {
  ZeroGroup(TrafficGroup::All);
  Zero(receiveErrors_);
}

void PacketCounters::ZeroAllCounters() {
  ZeroGroupCounters();
  ZeroTotals();
}

std::int32_t PacketCounters::Count(TrafficGroup group, ProtocolClass protocol) const {
  if (!IsGroup(group)) return 0;
  return counts_[GroupIndex(group)][static_cast<int>(protocol)].load(std::memory_order_relaxed);
}

std::int32_t PacketCounters::ReceiveErrors() const { return receiveErrors_.load(std::memory_order_relaxed); }

}  // namespace orvanel
