#include "capture/capture_loop.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/recording_table.h"
#include "tests/support/scripted_loop.h"

namespace orvanel {
namespace {

using test::Datagram;
using test::PacketStep;
using test::RecordingTable;
using test::ScriptedOptions;
using test::ScriptedSource;
using enum CaptureOption;

// Box states that stay still: every listed box ticked with the given state.
ScriptedOptions Ticked(std::set<CaptureOption> boxes, int state = kChecked) {
  return ScriptedOptions([boxes, state](CaptureOption option, int) { return boxes.contains(option) ? state : 0; });
}

struct LoopRun {
  PacketCounters counters;
  RecordingTable table;
  int result = -1;

  LoopRun(ScriptedSource& source, const CaptureOptions& options, std::string srcFilter = "10.0.0.1",
          std::string dstFilter = "10.0.0.1") {
    const std::atomic<bool> capturing{true};
    result = CaptureThreadProc({capturing, source, counters, options, table, srcFilter, dstFilter});
  }
  std::int32_t Count(TrafficGroup group, ProtocolClass protocol) const { return counters.Count(group, protocol); }
};

// Source-only, destination-only, both and neither, for the filters 10.0.0.1.
const Datagram kOutgoing{.protocol = kProtocolTCP, .source = "10.0.0.1", .destination = "93.184.216.34"};
const Datagram kIncoming{.protocol = kProtocolTCP, .source = "93.184.216.34", .destination = "10.0.0.1"};
const Datagram kLocal{.protocol = kProtocolTCP, .source = "10.0.0.1", .destination = "10.0.0.1"};
const Datagram kForeign{.protocol = kProtocolTCP, .source = "10.0.0.2", .destination = "10.0.0.3"};

Datagram WithProtocol(Datagram datagram, std::uint8_t protocol) {
  datagram.protocol = protocol;
  return datagram;
}

TEST(CaptureLoop, OnlyTheSourceBoxesListOutgoingPacketsAndCountEverything) {
  ScriptedSource source({PacketStep(kOutgoing), PacketStep(kIncoming), PacketStep(kLocal), PacketStep(kForeign)});
  const ScriptedOptions options = Ticked({SourceEnable, SourceTCP});
  LoopRun run(source, options);
  EXPECT_EQ(run.result, 0);
  const auto rows = run.table.Rows();
  ASSERT_EQ(rows.size(), 2u);  // outgoing and local, newest first
  EXPECT_EQ(rows[0][3], "10.0.0.1");
  EXPECT_EQ(rows[1][3], "93.184.216.34");
  EXPECT_EQ(run.Count(TrafficGroup::All, ProtocolClass::TCP), 4);
  EXPECT_EQ(run.Count(TrafficGroup::Source, ProtocolClass::TCP), 2);
  EXPECT_EQ(run.Count(TrafficGroup::Destination, ProtocolClass::TCP), 2);
  EXPECT_EQ(run.Count(TrafficGroup::Other, ProtocolClass::TCP), 1);
  EXPECT_EQ(run.counters.ReceiveErrors(), 0);
}

TEST(CaptureLoop, EachCaseListsThroughItsOwnBoxes) {
  struct Case {
    Datagram datagram;
    std::set<CaptureOption> boxes;
    std::size_t rows;
  };
  const Case cases[] = {
      {kLocal, {SourceEnable, SourceTCP, DestinationEnable, DestinationTCP}, 1},  // Both: listed once
      {kLocal, {SourceTCP, DestinationEnable, DestinationTCP}, 1},                // through the destination part
      {kLocal, {SourceEnable, SourceTCP}, 1},
      {kLocal, {SourceEnable, DestinationEnable, SourceUDP, DestinationICMP, OtherTCP, OtherEnable}, 0},
      {kOutgoing, {SourceTCP, SourceUDP, SourceICMP, DestinationEnable, DestinationTCP}, 0},
      {kOutgoing, {SourceEnable, SourceTCP}, 1},
      {kIncoming, {DestinationEnable, DestinationTCP}, 1},
      {kIncoming, {SourceEnable, SourceTCP, OtherEnable, OtherTCP}, 0},
      {kForeign, {OtherEnable, OtherTCP}, 1},
      {kForeign, {OtherEnable, OtherUDP, SourceEnable, SourceTCP, DestinationEnable, DestinationTCP}, 0},
      {WithProtocol(kForeign, kProtocolUDP), {OtherEnable, OtherUDP}, 1},
      {WithProtocol(kForeign, kProtocolICMP), {OtherEnable, OtherICMP}, 1},
      {WithProtocol(kIncoming, kProtocolICMP), {DestinationEnable, DestinationICMP}, 1},
      {WithProtocol(kIncoming, kProtocolICMP), {DestinationEnable, DestinationUDP}, 0},
  };
  for (const Case& c : cases) {
    for (int state : {kChecked, 2}) {  // an indeterminate box counts as ticked
      ScriptedSource source({PacketStep(c.datagram)});
      const ScriptedOptions options = Ticked(c.boxes, state);
      LoopRun run(source, options);
      EXPECT_EQ(run.table.Rows().size(), c.rows) << c.datagram.source << " > " << c.datagram.destination
                                               << " protocol " << int(c.datagram.protocol) << " state " << state
                                               << " case " << (&c - cases);
    }
  }
}

TEST(CaptureLoop, OtherProtocolsAreCountedButNeverListed) {
  std::set<CaptureOption> every;
  for (int option = 0; option < kCaptureOptionCount; ++option) every.insert(static_cast<CaptureOption>(option));
  for (std::uint8_t protocol : {0, 2, 47, 50, 255}) {
    ScriptedSource source({PacketStep(WithProtocol(kLocal, protocol)), PacketStep(WithProtocol(kForeign, protocol)),
                           PacketStep(WithProtocol(kOutgoing, protocol))});
    const ScriptedOptions options = Ticked(every);
    LoopRun run(source, options);
    EXPECT_TRUE(run.table.Rows().empty()) << int(protocol);
    EXPECT_TRUE(options.reads.empty()) << int(protocol);
    EXPECT_EQ(run.Count(TrafficGroup::All, ProtocolClass::OTHER), 3);
    EXPECT_EQ(run.Count(TrafficGroup::Source, ProtocolClass::OTHER), 2);
    EXPECT_EQ(run.Count(TrafficGroup::Destination, ProtocolClass::OTHER), 1);
    EXPECT_EQ(run.Count(TrafficGroup::Other, ProtocolClass::OTHER), 1);
    EXPECT_EQ(run.Count(TrafficGroup::All, ProtocolClass::TCP), 0);
  }
}

TEST(CaptureLoop, CaseBothReadsTheBoxesInOrderAndAFlipCanGiveTwoRowsOrNone) {
  const Datagram udp = WithProtocol(kLocal, kProtocolUDP);
  {  // boxes still, all ticked: one row, the source boxes read again after the destination boxes
    ScriptedSource source({PacketStep(udp)});
    const ScriptedOptions options = Ticked({SourceEnable, SourceUDP, DestinationEnable, DestinationUDP});
    LoopRun run(source, options);
    EXPECT_EQ(run.table.Rows().size(), 1u);
    EXPECT_EQ(options.reads, (std::vector{SourceEnable, SourceUDP, SaveLast, DestinationEnable, DestinationUDP,
                                          SourceEnable, SourceUDP}));
  }
  {  // a part stops reading at its first unticked box
    ScriptedSource source({PacketStep(udp)});
    const ScriptedOptions options = Ticked({SourceUDP, DestinationEnable, DestinationUDP});
    LoopRun run(source, options);
    EXPECT_EQ(run.table.Rows().size(), 1u);
    EXPECT_EQ(options.reads, (std::vector{SourceEnable, DestinationEnable, DestinationUDP, SourceEnable, SaveLast}));
  }
  {  // source enable unticked between its two reads: two rows
    ScriptedSource source({PacketStep(udp)});
    const ScriptedOptions options([](CaptureOption option, int read) {
      if (option == SourceEnable) return read == 0 ? kChecked : kUnchecked;
      return option == SaveLast ? kUnchecked : kChecked;
    });
    LoopRun run(source, options);
    EXPECT_EQ(run.table.Rows().size(), 2u);
  }
  {  // source UDP ticked between its two reads, destination ticked: no row
    ScriptedSource source({PacketStep(udp)});
    const ScriptedOptions options([](CaptureOption option, int read) {
      if (option == SourceUDP) return read < 2 ? kUnchecked : kChecked;
      return option == SaveLast ? kUnchecked : kChecked;
    });
    LoopRun run(source, options);
    EXPECT_EQ(run.table.Rows().size(), 0u);
    EXPECT_EQ(options.reads, (std::vector{SourceEnable, SourceUDP, DestinationEnable, DestinationUDP, SourceEnable,
                                          SourceUDP}));
  }
}

TEST(CaptureLoop, EveryReceiveStartsWithAZeroedBuffer) {
  Datagram longOne{.protocol = kProtocolUDP, .source = "10.0.0.1", .payload = std::string(1800, 'L')};
  // A short datagram whose header claims more: the bytes past its end read as zero.
  Datagram shortOne{.protocol = kProtocolUDP, .source = "10.0.0.1", .totalLengthField = 1828};
  std::vector<std::uint8_t> garbage(kReceiveBufferSize, 0xAB);
  Datagram oversize{.protocol = kProtocolUDP, .source = "10.0.0.1", .payload = std::string(4000, 'O')};
  ScriptedSource source({PacketStep(longOne), PacketStep(shortOne), {ReceiveStatus::Failed, garbage},
                         PacketStep(shortOne), {ReceiveStatus::Woken, garbage}, PacketStep(shortOne),
                         PacketStep(oversize), PacketStep(shortOne)});
  const ScriptedOptions options = Ticked({SourceEnable, SourceUDP});
  LoopRun run(source, options);
  EXPECT_EQ(source.allZeroOnEntry, std::vector<bool>(8, true));
  const auto rows = run.table.Rows();
  ASSERT_EQ(rows.size(), 6u);
  for (int row : {0, 2, 3, 4}) {
    EXPECT_EQ(rows[row][5], "1828");
    EXPECT_EQ(rows[row][6], "");
  }
  EXPECT_EQ(rows[1][6], std::string(kReceiveBufferSize - 28, 'O'));
  EXPECT_EQ(rows[5][6], std::string(1800, 'L'));
}

TEST(CaptureLoop, FailedReceivesAreErrorsWakeUpsAreNothingAndExhaustionEnds) {
  ScriptedSource source({{ReceiveStatus::Failed, {}}, {ReceiveStatus::Woken, {}}, PacketStep(kForeign),
                         {ReceiveStatus::Failed, {}}, {ReceiveStatus::Woken, {}}});
  const ScriptedOptions options = Ticked({OtherEnable, OtherTCP});
  LoopRun run(source, options);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.counters.ReceiveErrors(), 2);
  EXPECT_EQ(run.Count(TrafficGroup::All, ProtocolClass::TCP), 1);
  EXPECT_EQ(run.Count(TrafficGroup::All, ProtocolClass::OTHER), 0);  // a failure decodes nothing
  EXPECT_EQ(run.table.Rows().size(), 1u);
  EXPECT_EQ(source.allZeroOnEntry.size(), 5u);
  EXPECT_EQ(source.exhaustedReceives, 1);  // the loop ended at once
}

// Clears the running flag from inside its first receive, as Stop would.
class StoppingSource final : public PacketSource {
 public:
  explicit StoppingSource(std::atomic<bool>& capturing) : capturing_(capturing) {}
  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    ++receives;
    capturing_ = false;
    const auto bytes = kForeign.Bytes();
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    return {ReceiveStatus::Packet, bytes.size()};
  }
  int receives = 0;

 private:
  std::atomic<bool>& capturing_;
};

TEST(CaptureLoop, TheRunningFlagIsTestedBeforeEveryReceive) {
  PacketCounters counters;
  RecordingTable table;
  const ScriptedOptions options = Ticked({OtherEnable, OtherTCP});
  std::atomic<bool> capturing{false};
  StoppingSource source(capturing);
  EXPECT_EQ(CaptureThreadProc({capturing, source, counters, options, table, "", ""}), 0);
  EXPECT_EQ(source.receives, 0);
  capturing = true;
  EXPECT_EQ(CaptureThreadProc({capturing, source, counters, options, table, "10.0.0.1", "10.0.0.1"}), 0);
  EXPECT_EQ(source.receives, 1);  // the packet received as the flag cleared still counts and lists
  EXPECT_EQ(counters.Count(TrafficGroup::Other, ProtocolClass::TCP), 1);
  EXPECT_EQ(table.Rows().size(), 1u);
}

}  // namespace
}  // namespace orvanel
