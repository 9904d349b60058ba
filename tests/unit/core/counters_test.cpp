#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

#include "capture/counters.h"

namespace orvanel {

// Starts counters at chosen values, so the 32-bit wrap is reached without
// two billion increments.
struct PacketCountersTestPeer {
  static void Set(PacketCounters& counters, TrafficGroup group, ProtocolClass protocol, std::int32_t value) {
    SetCounter(counters.counts_[static_cast<int>(group) - 1][static_cast<int>(protocol)], value);
  }
  static void SetReceiveErrors(PacketCounters& counters, std::int32_t value) {
    SetCounter(counters.receiveErrors_, value);
  }
  // Every running total at total, every shown value at zero.
  static void SetRunningTotals(PacketCounters& counters, std::uint64_t total) {
    for (auto& group : counters.counts_)
      for (PacketCounters::Counter& counter : group) counter.total = counter.zeroedAt = total;
    counters.receiveErrors_.total = counters.receiveErrors_.zeroedAt = total;
  }

 private:
  // Leaves a zeroing base that is not zero, so the shown value is a
  // difference that has to wrap as well.
  static void SetCounter(PacketCounters::Counter& counter, std::int32_t value) {
    counter.zeroedAt.store(counter.total.load() - 12345u);
    counter.total.store(counter.zeroedAt.load() + static_cast<std::uint32_t>(value));
  }
};

namespace {

constexpr TrafficGroup kGroups[] = {TrafficGroup::All, TrafficGroup::Source, TrafficGroup::Destination,
                                    TrafficGroup::Other};
constexpr ProtocolClass kClasses[] = {ProtocolClass::TCP, ProtocolClass::UDP, ProtocolClass::ICMP,
                                      ProtocolClass::OTHER};

// Gives every one of the seventeen counters its own non-zero value.
void FillAll(PacketCounters& counters) {
  int value = 1;
  for (TrafficGroup group : kGroups)
    for (ProtocolClass protocol : kClasses) PacketCountersTestPeer::Set(counters, group, protocol, value++);
  PacketCountersTestPeer::SetReceiveErrors(counters, value);
}

TEST(PacketCounters, CountsByGroupAndProtocolByte) {
  PacketCounters counters;
  counters.CountPacket(TrafficGroup::Source, kProtocolTCP);
  counters.CountPacket(TrafficGroup::Source, kProtocolTCP);
  counters.CountPacket(TrafficGroup::Destination, kProtocolUDP, 1500);
  counters.CountPacket(TrafficGroup::Other, kProtocolICMP);
  counters.CountPacket(TrafficGroup::All, 2);
  counters.CountPacket(TrafficGroup::All, 47);
  counters.CountPacket(TrafficGroup::All, 255);
  counters.CountPacket(static_cast<TrafficGroup>(0), kProtocolTCP);  // outside 1..4: nothing
  counters.CountPacket(static_cast<TrafficGroup>(5), kProtocolTCP);
  counters.CountReceiveError();
  EXPECT_EQ(counters.Count(TrafficGroup::Source, ProtocolClass::TCP), 2);
  EXPECT_EQ(counters.Count(TrafficGroup::Destination, ProtocolClass::UDP), 1);
  EXPECT_EQ(counters.Count(TrafficGroup::Other, ProtocolClass::ICMP), 1);
  EXPECT_EQ(counters.Count(TrafficGroup::All, ProtocolClass::OTHER), 3);
  EXPECT_EQ(counters.ReceiveErrors(), 1);
  const CounterSnapshot snapshot = counters.Snapshot();
  int total = 0;
  for (TrafficGroup group : kGroups) {
    for (ProtocolClass protocol : kClasses) {
      EXPECT_EQ(snapshot.Count(group, protocol), counters.Count(group, protocol));
      EXPECT_EQ(snapshot.packetTotals[static_cast<int>(group) - 1][static_cast<int>(protocol)],
                counters.RunningTotal(group, protocol));
      EXPECT_EQ(snapshot.Bytes(group, protocol), counters.RunningBytes(group, protocol));
      total += snapshot.Count(group, protocol);
    }
  }
  EXPECT_EQ(total, 7);
  EXPECT_EQ(snapshot.receiveErrors, 1);
  EXPECT_EQ(snapshot.Count(static_cast<TrafficGroup>(5), ProtocolClass::TCP), 0);
  EXPECT_EQ(snapshot.Bytes(TrafficGroup::Destination, ProtocolClass::UDP), 1500u);
  EXPECT_EQ(snapshot.Bytes(static_cast<TrafficGroup>(5), ProtocolClass::UDP), 0u);
}

TEST(PacketCounters, WrapFromTheLargestToTheMostNegativeValue) {
  PacketCounters counters;
  PacketCountersTestPeer::Set(counters, TrafficGroup::Other, ProtocolClass::UDP, INT32_MAX);
  PacketCountersTestPeer::SetReceiveErrors(counters, INT32_MAX - 1);
  counters.CountPacket(TrafficGroup::Other, kProtocolUDP);
  counters.CountReceiveError();
  EXPECT_EQ(counters.Count(TrafficGroup::Other, ProtocolClass::UDP), INT32_MIN);
  EXPECT_EQ(counters.ReceiveErrors(), INT32_MAX);
  counters.CountPacket(TrafficGroup::Other, kProtocolUDP);
  counters.CountReceiveError();
  EXPECT_EQ(counters.Count(TrafficGroup::Other, ProtocolClass::UDP), INT32_MIN + 1);
  EXPECT_EQ(counters.ReceiveErrors(), INT32_MIN);
}

TEST(PacketCounters, RunningTotalsPassThe32BitWrapAndIgnoreZeroing) {
  PacketCounters counters;
  constexpr std::uint64_t kStart = UINT32_MAX;
  PacketCountersTestPeer::SetRunningTotals(counters, kStart);
  counters.CountPacket(TrafficGroup::All, kProtocolUDP);
  counters.CountPacket(TrafficGroup::All, kProtocolUDP);
  counters.CountReceiveError();
  EXPECT_EQ(counters.Count(TrafficGroup::All, ProtocolClass::UDP), 2);
  EXPECT_EQ(counters.RunningTotal(TrafficGroup::All, ProtocolClass::UDP), kStart + 2);
  EXPECT_EQ(counters.RunningReceiveErrors(), kStart + 1);
  counters.ZeroAllCounters();
  counters.CountPacket(TrafficGroup::Other, kProtocolICMP);
  // Bytes, 64-bit too, pass 4 GiB and are never zeroed.
  for (int i = 0; i < 70'000; ++i) counters.CountPacket(TrafficGroup::Destination, kProtocolUDP, 65535);
  EXPECT_EQ(counters.RunningBytes(TrafficGroup::Destination, ProtocolClass::UDP), 70'000ull * 65535);
  counters.ZeroAllCounters();
  EXPECT_EQ(counters.RunningBytes(TrafficGroup::Destination, ProtocolClass::UDP), 70'000ull * 65535);
  EXPECT_EQ(counters.RunningBytes(TrafficGroup::All, ProtocolClass::UDP), 0u);
  EXPECT_EQ(counters.Count(TrafficGroup::All, ProtocolClass::UDP), 0);
  EXPECT_EQ(counters.RunningTotal(TrafficGroup::All, ProtocolClass::UDP), kStart + 2);
  EXPECT_EQ(counters.RunningTotal(TrafficGroup::Other, ProtocolClass::ICMP), kStart + 1);
  EXPECT_EQ(counters.RunningTotal(TrafficGroup::Source, ProtocolClass::ICMP), kStart);
  EXPECT_EQ(counters.RunningReceiveErrors(), kStart + 1);
  EXPECT_EQ(counters.RunningTotal(static_cast<TrafficGroup>(5), ProtocolClass::TCP), 0u);
}

TEST(PacketCounters, EachZeroingClearsExactlyItsSet) {
  PacketCounters counters;
  for (TrafficGroup group : kGroups)
    for (ProtocolClass protocol : kClasses) EXPECT_EQ(counters.Count(group, protocol), 0);
  EXPECT_EQ(counters.ReceiveErrors(), 0);

  FillAll(counters);
  counters.ZeroGroupCounters();
  for (ProtocolClass protocol : kClasses) {
    EXPECT_EQ(counters.Count(TrafficGroup::All, protocol), 1 + static_cast<int>(protocol));
    EXPECT_EQ(counters.Count(TrafficGroup::Source, protocol), 0);
    EXPECT_EQ(counters.Count(TrafficGroup::Destination, protocol), 0);
    EXPECT_EQ(counters.Count(TrafficGroup::Other, protocol), 0);
  }
  EXPECT_EQ(counters.ReceiveErrors(), 17);

  FillAll(counters);
  counters.ZeroTotals();
  for (ProtocolClass protocol : kClasses) {
    EXPECT_EQ(counters.Count(TrafficGroup::All, protocol), 0);
    EXPECT_EQ(counters.Count(TrafficGroup::Source, protocol), 5 + static_cast<int>(protocol));
    EXPECT_EQ(counters.Count(TrafficGroup::Destination, protocol), 9 + static_cast<int>(protocol));
    EXPECT_EQ(counters.Count(TrafficGroup::Other, protocol), 13 + static_cast<int>(protocol));
  }
  EXPECT_EQ(counters.ReceiveErrors(), 0);

  FillAll(counters);
  counters.ZeroAllCounters();
  for (TrafficGroup group : kGroups)
    for (ProtocolClass protocol : kClasses) EXPECT_EQ(counters.Count(group, protocol), 0);
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

// One thread counts, another zeroes. After a zeroing, a counter may hold at
// most the increments made since (plus the one in flight); an increment that
// overwrote the zeroing would bring back the value from before it.
TEST(PacketCounters, ZeroingWhileCountingIsNeverUndone) {
  constexpr int kIncrements = 400'000;
  constexpr int kMostIncrements = 100 * kIncrements;
  constexpr int kLeastZeroings = 300;
  PacketCounters counters;
  std::atomic<int> done{0};
  std::atomic<int> zeroings{0};
  std::atomic<bool> finished{false};
  // Counts on until the zeroings have raced it a while: on a busy machine the
  // zeroing thread may not run at all during the first increments.
  std::thread counter([&] {
    for (int i = 0; i < kMostIncrements && (i < kIncrements || zeroings.load() < kLeastZeroings); ++i) {
      counters.CountPacket(TrafficGroup::Source, kProtocolTCP);
      counters.CountReceiveError();
      done.fetch_add(1);
    }
    finished = true;
  });
  int violations = 0;
  while (!finished.load()) {
    const int before = done.load();
    const int kind = zeroings.fetch_add(1) % 3;
    if (kind == 0) counters.ZeroAllCounters();
    if (kind == 1) counters.ZeroGroupCounters();
    if (kind == 2) counters.ZeroTotals();
    const std::int32_t source = counters.Count(TrafficGroup::Source, ProtocolClass::TCP);
    const std::int32_t errors = counters.ReceiveErrors();
    const int since = done.load() - before + 1;
    if (kind != 2 && source > since) ++violations;  // the source group was zeroed
    if (kind != 1 && errors > since) ++violations;  // the receive errors were zeroed
  }
  counter.join();
  EXPECT_EQ(violations, 0);
  EXPECT_GE(zeroings.load(), kLeastZeroings);
  // With no zeroing racing, nothing is lost.
  counters.ZeroAllCounters();
  for (int i = 0; i < 1000; ++i) counters.CountPacket(TrafficGroup::Other, kProtocolICMP);
  EXPECT_EQ(counters.Count(TrafficGroup::Other, ProtocolClass::ICMP), 1000);
}

}  // namespace
}  // namespace orvanel
