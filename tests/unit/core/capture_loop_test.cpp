#include "capture/capture_loop.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "capture/address_text.h"
#include "capture/conversation_ranking.h"

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
ScriptedOptions Ticked(const std::set<CaptureOption>& boxes, int state = kChecked) {
  return ScriptedOptions([boxes, state](CaptureOption option, int) { return boxes.contains(option) ? state : 0; });
}

struct LoopRun {
  PacketCounters counters;
  RecordingTable table;
  int result = -1;

  LoopRun(ScriptedSource& source, const CaptureOptions& options, std::string srcFilter = "10.0.0.1",
          std::string dstFilter = "10.0.0.1", ConversationTable* conversations = nullptr) {
    const std::atomic<bool> capturing{true};
    result = CaptureThreadProc({capturing, source, counters, options, table, std::move(srcFilter), std::move(dstFilter),
                                nullptr, conversations});
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
      EXPECT_EQ(run.table.Rows().size(), c.rows)
          << c.datagram.source << " > " << c.datagram.destination << " protocol " << int(c.datagram.protocol)
          << " state " << state << " case " << (&c - cases);
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
    EXPECT_EQ(options.reads,
              (std::vector{SourceEnable, SourceUDP, DestinationEnable, DestinationUDP, SourceEnable, SourceUDP}));
  }
}

TEST(CaptureLoop, EveryReceiveStartsWithAZeroedBuffer) {
  Datagram longOne{.protocol = kProtocolUDP, .source = "10.0.0.1", .payload = std::string(1800, 'L')};
  // A short datagram whose header claims more: the bytes past its end read as zero.
  Datagram shortOne{.protocol = kProtocolUDP, .source = "10.0.0.1", .totalLengthField = 1828};
  std::vector<std::uint8_t> garbage(kReceiveBufferSize, 0xAB);
  Datagram oversize{.protocol = kProtocolUDP, .source = "10.0.0.1", .payload = std::string(4000, 'O')};
  ScriptedSource source({PacketStep(longOne),
                         PacketStep(shortOne),
                         {ReceiveStatus::Failed, garbage},
                         PacketStep(shortOne),
                         {ReceiveStatus::Woken, garbage},
                         PacketStep(shortOne),
                         PacketStep(oversize),
                         PacketStep(shortOne)});
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
  ScriptedSource source({{ReceiveStatus::Failed, {}},
                         {ReceiveStatus::Woken, {}},
                         PacketStep(kForeign),
                         {ReceiveStatus::Failed, {}},
                         {ReceiveStatus::Woken, {}}});
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

// Every conversation of the table, by its key.
std::map<std::tuple<int, bool, std::string, int, std::string, int>, Conversation> Conversations(
    const ConversationTable& table) {
  std::map<std::tuple<int, bool, std::string, int, std::string, int>, Conversation> all;
  table.ForEach([&all](ConversationId, const Conversation& c) {
    all[{c.key.protocol, c.key.hasPorts, std::string(AddressText(c.key.addressA).View()), c.key.portA,
         std::string(AddressText(c.key.addressB).View()), c.key.portB}] = c;
  });
  return all;
}

std::uint64_t CountedBytes(const PacketCounters& counters) {
  std::uint64_t bytes = 0;
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    bytes += counters.RunningBytes(TrafficGroup::All, static_cast<ProtocolClass>(protocol));
  }
  return bytes;
}

TEST(CaptureLoop, EveryPacketLandsInExactlyOneConversation) {
  const Datagram tcpOut{.protocol = kProtocolTCP, .sourcePort = 1000, .destinationPort = 80};
  const Datagram tcpBack{.protocol = kProtocolTCP,
                         .source = "10.0.0.2",
                         .destination = "10.0.0.1",
                         .sourcePort = 80,
                         .destinationPort = 1000,
                         .payload = "reply"};
  const Datagram tcpSwapped{.protocol = kProtocolTCP, .sourcePort = 80, .destinationPort = 1000};
  const Datagram udpBack{.protocol = kProtocolUDP,
                         .source = "10.0.0.3",
                         .destination = "10.0.0.1",
                         .sourcePort = 53,
                         .destinationPort = 5353};
  const Datagram udpOut{.protocol = kProtocolUDP, .destination = "10.0.0.3", .sourcePort = 5353, .destinationPort = 53};
  const Datagram icmp{.protocol = kProtocolICMP};
  const Datagram icmpBack{.protocol = kProtocolICMP, .source = "10.0.0.2", .destination = "10.0.0.1"};
  const Datagram gre{.protocol = 47, .destination = "10.0.0.4", .payload = "tunnel"};
  // One UDP datagram in two fragments, in order; another with its later fragment first.
  const Datagram firstInOrder{.destination = "10.0.0.5",
                              .sourcePort = 4000,
                              .destinationPort = 53,
                              .payload = "0123456789abcdef",
                              .identification = 7,
                              .fragmentField = 0x2000};
  const Datagram laterInOrder{.destination = "10.0.0.5", .payload = "rest", .identification = 7, .fragmentField = 3};
  const Datagram laterFirst{.destination = "10.0.0.5", .payload = "rest", .identification = 8, .fragmentField = 3};
  const Datagram firstLater{.destination = "10.0.0.5",
                            .sourcePort = 4001,
                            .destinationPort = 53,
                            .payload = "0123456789abcdef",
                            .identification = 8,
                            .fragmentField = 0x2000};
  std::vector<std::uint8_t> tooShort = Datagram{.destination = "10.0.0.5"}.Bytes();
  tooShort.resize(22);  // two bytes of the source port
  ScriptedSource source({PacketStep(tcpOut),
                         PacketStep(tcpBack),
                         PacketStep(tcpBack),
                         PacketStep(tcpSwapped),
                         PacketStep(udpBack),
                         PacketStep(udpOut),
                         PacketStep(icmp),
                         PacketStep(icmpBack),
                         PacketStep(gre),
                         PacketStep(firstInOrder),
                         PacketStep(laterInOrder),
                         PacketStep(laterFirst),
                         PacketStep(firstLater),
                         {ReceiveStatus::Packet, tooShort}});
  const ScriptedOptions options = Ticked({});
  ConversationTable table;
  LoopRun run(source, options, "", "", &table);

  const auto all = Conversations(table);
  ASSERT_EQ(all.size(), 8u);
  ASSERT_EQ(table.Held(), 8u);
  const auto at = [&all](int protocol, bool ports, const std::string& a, int portA, const std::string& b, int portB) {
    const auto found = all.find({protocol, ports, a, portA, b, portB});
    EXPECT_NE(found, all.end()) << a << ":" << portA << " " << b << ":" << portB;
    return found == all.end() ? Conversation{} : found->second;
  };
  const auto size = [](const Datagram& d) { return d.Bytes().size(); };
  const Conversation tcp = at(kProtocolTCP, true, "10.0.0.1", 1000, "10.0.0.2", 80);
  EXPECT_EQ(tcp.packetsAToB, 1u);
  EXPECT_EQ(tcp.bytesAToB, size(tcpOut));
  EXPECT_EQ(tcp.packetsBToA, 2u);
  EXPECT_EQ(tcp.bytesBToA, 2 * size(tcpBack));
  EXPECT_EQ(at(kProtocolTCP, true, "10.0.0.1", 80, "10.0.0.2", 1000).packetsAToB, 1u);  // ports swapped: another
  const Conversation udp = at(kProtocolUDP, true, "10.0.0.3", 53, "10.0.0.1", 5353);    // A sent first
  EXPECT_EQ(udp.packetsAToB, 1u);
  EXPECT_EQ(udp.packetsBToA, 1u);
  const Conversation ping = at(kProtocolICMP, false, "10.0.0.1", 0, "10.0.0.2", 0);
  EXPECT_EQ(ping.packetsAToB + ping.packetsBToA, 2u);
  EXPECT_EQ(at(47, false, "10.0.0.1", 0, "10.0.0.4", 0).bytesAToB, size(gre));
  const Conversation inOrder = at(kProtocolUDP, true, "10.0.0.1", 4000, "10.0.0.5", 53);
  EXPECT_EQ(inOrder.packetsAToB, 2u);
  EXPECT_EQ(inOrder.bytesAToB, size(firstInOrder) + size(laterInOrder));
  EXPECT_EQ(at(kProtocolUDP, true, "10.0.0.1", 4001, "10.0.0.5", 53).packetsAToB, 1u);
  // The later fragment that came first, and the datagram too short for its ports.
  const Conversation portless = at(kProtocolUDP, false, "10.0.0.1", 0, "10.0.0.5", 0);
  EXPECT_EQ(portless.packetsAToB, 2u);
  EXPECT_EQ(portless.bytesAToB, size(laterFirst) + size(Datagram{.destination = "10.0.0.5"}));

  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;
  for (const auto& [key, c] : all) packets += c.Packets(), bytes += c.Bytes();
  EXPECT_EQ(packets, 14u);
  EXPECT_EQ(bytes, CountedBytes(run.counters));
}

TEST(CaptureLoop, AFullConversationTableFoldsTheLeastRecentAndKeepsEveryPacketAndByte) {
  std::vector<ScriptedSource::Step> steps;
  constexpr int kConversations = 1000;
  for (int port = 1; port <= kConversations; ++port) {
    ScriptedSource::Step step =
        PacketStep(Datagram{.sourcePort = static_cast<std::uint16_t>(port), .payload = std::string(port % 7, 'x')});
    step.captureTimeNs = port * 1'000'000'000LL;
    steps.push_back(step);
  }
  ScriptedSource source(steps);
  const ScriptedOptions options = Ticked({});
  ConversationTable table(64);
  LoopRun run(source, options, "", "", &table);

  EXPECT_LE(table.Held(), 64u);
  EXPECT_EQ(table.Held() + table.FoldedCount(), static_cast<std::uint64_t>(kConversations));
  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;
  std::int64_t oldestHeld = INT64_MAX;
  table.ForEach([&](ConversationId, const Conversation& c) {
    packets += c.Packets(), bytes += c.Bytes();
    oldestHeld = std::min(oldestHeld, c.firstNs);
  });
  const std::optional<Conversation> folded = table.Read(kFoldedConversations);
  ASSERT_TRUE(folded);
  EXPECT_EQ(packets + folded->Packets(), static_cast<std::uint64_t>(kConversations));
  EXPECT_EQ(bytes + folded->Bytes(), CountedBytes(run.counters));
  EXPECT_EQ(folded->firstNs, 1'000'000'000);
  EXPECT_LT(folded->lastNs, oldestHeld);  // the held ones are the most recent
  EXPECT_EQ(RankConversations(table, {}).size(), table.Held() + 1);

  table.Clear();
  EXPECT_EQ(table.Held(), 0u);
  EXPECT_EQ(table.FoldedCount(), 0u);
  EXPECT_TRUE(RankConversations(table, {}).empty());
  ScriptedSource again({PacketStep(Datagram{})});
  LoopRun after(again, options, "", "", &table);
  ASSERT_EQ(Conversations(table).size(), 1u);
  EXPECT_EQ(Conversations(table).begin()->second.Packets(), 1u);
  EXPECT_FALSE(table.Read(kFoldedConversations));
}

}  // namespace
}  // namespace orvanel
