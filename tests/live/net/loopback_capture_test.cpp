// Known traffic on loopback: every packet is counted and listed once, in
// both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/capture_socket.h"
#include "net/packet_ring.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/test_network.h"
#include "tests/support/test_traffic.h"

namespace orvanel {
namespace {

using test::SnmpValue;
using test::WaitUntil;

constexpr int kDatagrams = 20;
constexpr int kEchoes = 5;

class LoopbackCapture : public test::CaptureFixture {};

TEST_F(LoopbackCapture, CountsAndListsEachPacketOnce) {
  // Without timestamp options a TCP payload starts where the row expects it.
  ASSERT_TRUE(test::RunCommand("sysctl -qw net.ipv4.tcp_timestamps=0"));
  const long tcpSegmentsBefore = SnmpValue("Tcp", "OutSegs");
  ASSERT_EQ(session->StartCapture("127.0.0.1", "127.0.0.1", "127.0.0.1"), StartResult::Started);

  const test::UdpEndpoint server = test::BindUdp("127.0.0.1"), client = test::BindUdp("127.0.0.1");
  for (int i = 0; i < kDatagrams; ++i) {
    ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, "orvanel udp " + std::to_string(i)));
  }
  const test::TcpExchange tcp = test::ExchangeTcp("127.0.0.1", {"first", "second", "third"}, "answer");
  ASSERT_TRUE(tcp.ok);
  ASSERT_TRUE(test::SendEchoes("127.0.0.1", kEchoes));

  // The kernel's own count of the segments it sent; loopback receives each once.
  const auto tcpSegments = [&] { return static_cast<std::int32_t>(SnmpValue("Tcp", "OutSegs") - tcpSegmentsBefore); };
  EXPECT_TRUE(WaitUntil([&] {
    return Count(TrafficGroup::All, ProtocolClass::UDP) >= kDatagrams &&
           Count(TrafficGroup::All, ProtocolClass::ICMP) >= 2 * kEchoes &&
           Count(TrafficGroup::All, ProtocolClass::TCP) >= tcpSegments();
  }));
  session->StopCapture();
  EXPECT_FALSE(session->IsCapturing());

  const std::int32_t expectedTcp = tcpSegments();
  EXPECT_GE(expectedTcp, 9);  // handshake, three writes, reply, closing
  for (TrafficGroup group : {TrafficGroup::All, TrafficGroup::Source, TrafficGroup::Destination}) {
    SCOPED_TRACE(static_cast<int>(group));
    EXPECT_EQ(Count(group, ProtocolClass::UDP), kDatagrams);
    EXPECT_EQ(Count(group, ProtocolClass::ICMP), 2 * kEchoes);  // requests and replies
    EXPECT_EQ(Count(group, ProtocolClass::TCP), expectedTcp);
    EXPECT_EQ(Count(group, ProtocolClass::OTHER), 0);
  }
  EXPECT_EQ(counters.ReceiveErrors(), 0);

  // Case Both lists every packet once.
  EXPECT_EQ(table.Rows().size(), static_cast<std::size_t>(kDatagrams + 2 * kEchoes + expectedTcp));
  for (int i = 0; i < kDatagrams; ++i) {
    EXPECT_EQ(table.CountRows("UDP", 6, "orvanel udp " + std::to_string(i)), 1) << i;
  }
  EXPECT_EQ(table.CountRows("UDP", 2, std::to_string(client.port)), kDatagrams);
  for (const char* payload : {"first", "second", "third", "answer"}) {
    EXPECT_EQ(table.CountRows("TCP", 6, payload), 1) << payload;
  }
  const int fromClient = table.CountRows("TCP", 2, std::to_string(tcp.clientPort));
  const int fromServer = table.CountRows("TCP", 2, std::to_string(tcp.serverPort));
  EXPECT_GE(fromClient, 5);  // SYN, ACK, three writes
  EXPECT_GE(fromServer, 2);  // SYN-ACK, reply
  EXPECT_EQ(fromClient + fromServer, expectedTcp);
  EXPECT_EQ(table.CountRows("ICMP", 1, "127.0.0.1"), 2 * kEchoes);
  EXPECT_EQ(table.CountRows("ICMP", 5, "36"), 2 * kEchoes);  // 20 + 16 bytes

  // The save box was checked: the last listed UDP datagram is on disk.
  const std::string lastUdp = DumpFile("buf_UDP.txt");
  EXPECT_TRUE(lastUdp.ends_with("orvanel udp " + std::to_string(kDatagrams - 1))) << lastUdp;

  // A new Start clears the filter groups but keeps the totals.
  ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
  session->StopCapture();
  EXPECT_EQ(Count(TrafficGroup::Source, ProtocolClass::UDP), 0);
  EXPECT_EQ(Count(TrafficGroup::Destination, ProtocolClass::ICMP), 0);
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::UDP), kDatagrams);
  EXPECT_EQ(session->KernelDrops(), 0u);
}

TEST_F(LoopbackCapture, CutsLongDatagramsToTheBufferAndCountsThem) {
  options.Set(CaptureOption::SaveLast, kUnchecked);
  ASSERT_EQ(session->StartCapture("127.0.0.1", "127.0.0.1", ""), StartResult::Started);
  const test::UdpEndpoint server = test::BindUdp("127.0.0.1"), client = test::BindUdp("127.0.0.1");
  const std::string big(5000, 'x');
  ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, big));
  EXPECT_TRUE(WaitUntil([&] { return Count(TrafficGroup::All, ProtocolClass::UDP) == 1; }));
  session->StopCapture();
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::UDP), 1);
  EXPECT_EQ(counters.ReceiveErrors(), 0);
  const auto rows = table.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][5], std::to_string(20 + 8 + big.size()));        // the header still tells the whole length
  EXPECT_EQ(rows[0][6], std::string(kReceiveBufferSize - 28, 'x'));  // the rest was cut off
}

// The ring hands a datagram out where the kernel put it. The last one of a
// block must stay whole until the next receive, even while the kernel goes
// round the whole ring meanwhile.
TEST(PacketRingInPlace, TheLastDatagramOfABlockStaysUntilTheNextReceive) {
  CaptureSocket opened = OpenCaptureSocket("127.0.0.1");
  ASSERT_EQ(opened.result, StartResult::Started);
  const auto ring = PacketRing::Map(std::move(opened.socket));
  ASSERT_TRUE(ring);
  const test::UdpEndpoint server = test::BindUdp("127.0.0.1"), client = test::BindUdp("127.0.0.1");
  ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, "alone in its block"));
  ReceiveBuffer buffer{};
  const ReceiveResult alone = ring->Receive(buffer);
  ASSERT_EQ(alone.status, ReceiveStatus::Packet);
  ASSERT_TRUE(alone.inPlace);
  const std::vector<std::uint8_t> copy(alone.inPlace, alone.inPlace + alone.length);

  // Datagrams cut to a buffer's size: more than the ring holds.
  const std::string big(kReceiveBufferSize, 'y');
  for (std::size_t sent = 0; sent < 2 * kRingBytes / kReceiveBufferSize; ++sent) {
    ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, big));
  }
  EXPECT_EQ(std::memcmp(alone.inPlace, copy.data(), copy.size()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.data()) + 28, copy.size() - 28), "alone in its block");
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t byte) { return byte == 0; }));
  const ReceiveResult next = ring->Receive(buffer);
  ASSERT_EQ(next.status, ReceiveStatus::Packet);
  EXPECT_EQ(next.length, kReceiveBufferSize);
}

}  // namespace
}  // namespace orvanel
