#include "capture/counters.h"

namespace orvanel {
namespace {

bool IsGroup(TrafficGroup group) {
  const int value = static_cast<int>(group);
  return value >= 1 && value <= kTrafficGroupCount;
}

int GroupIndex(TrafficGroup group) { return static_cast<int>(group) - 1; }

}  // namespace

void PacketCounters::CountReceiveError() { receiveErrors_.Increment(); }

void PacketCounters::Add(TrafficGroup group, ProtocolClass protocol, std::uint64_t packets, std::uint64_t bytes) {
  if (!IsGroup(group)) return;
  counts_[GroupIndex(group)][static_cast<int>(protocol)].Increment(packets);
  std::atomic<std::uint64_t>& total = bytes_[GroupIndex(group)][static_cast<int>(protocol)];
  total.store(total.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed);
}

void PacketCounters::ZeroGroup(TrafficGroup group) {
  for (Counter& counter : counts_[GroupIndex(group)]) counter.Zero();
}

void PacketCounters::ZeroGroupCounters() {
  ZeroGroup(TrafficGroup::Source);
  ZeroGroup(TrafficGroup::Destination);
  ZeroGroup(TrafficGroup::Other);
}

void PacketCounters::ZeroTotals() {
  ZeroGroup(TrafficGroup::All);
  receiveErrors_.Zero();
}

void PacketCounters::ZeroAllCounters() {
  ZeroGroupCounters();
  ZeroTotals();
}

std::int32_t PacketCounters::Count(TrafficGroup group, ProtocolClass protocol) const {
  if (!IsGroup(group)) return 0;
  return counts_[GroupIndex(group)][static_cast<int>(protocol)].Value();
}

std::int32_t PacketCounters::ReceiveErrors() const { return receiveErrors_.Value(); }

CounterSnapshot PacketCounters::Snapshot() const {
  CounterSnapshot snapshot;
  for (int group = 0; group < kTrafficGroupCount; ++group) {
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      snapshot.counts[group][protocol] = counts_[group][protocol].Value();
      snapshot.packetTotals[group][protocol] = counts_[group][protocol].total.load(std::memory_order_relaxed);
      snapshot.byteTotals[group][protocol] = bytes_[group][protocol].load(std::memory_order_relaxed);
    }
  }
  snapshot.receiveErrors = receiveErrors_.Value();
  return snapshot;
}

std::uint64_t PacketCounters::RunningTotal(TrafficGroup group, ProtocolClass protocol) const {
  if (!IsGroup(group)) return 0;
  return counts_[GroupIndex(group)][static_cast<int>(protocol)].total.load(std::memory_order_relaxed);
}

std::uint64_t PacketCounters::RunningReceiveErrors() const {
  return receiveErrors_.total.load(std::memory_order_relaxed);
}

std::uint64_t PacketCounters::RunningBytes(TrafficGroup group, ProtocolClass protocol) const {
  if (!IsGroup(group)) return 0;
  return bytes_[GroupIndex(group)][static_cast<int>(protocol)].load(std::memory_order_relaxed);
}

}  // namespace orvanel
