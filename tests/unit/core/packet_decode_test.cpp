#include "capture/packet_decode.h"
#include "capture/packet_row.h"

#include <gtest/gtest.h>

#include "tests/support/recording_table.h"
#include "tests/support/scripted_loop.h"

namespace orvanel {
namespace {

using test::BufferOf;
using test::Datagram;
using test::RecordingTable;

// The texts of a datagram as received: cut to the receive buffer.
std::vector<std::string> RowOf(const Datagram& datagram) {
  const std::vector<std::uint8_t> bytes = datagram.Bytes();
  RecordingTable table;
  table.AddRow(ListedRowOf({bytes.data(), std::min(bytes.size(), kReceiveBufferSize)}, 0));
  return table.Rows()[0];
}

TEST(DecodeHeader, CopiesTheFirst24BytesAndReadsFieldsInNetworkOrder) {
  ReceiveBuffer buffer{};
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const IpHeaderView view = DecodeHeader(buffer);
  for (std::size_t i = 0; i < view.bytes.size(); ++i) EXPECT_EQ(view.bytes[i], buffer[i]) << i;
  buffer.fill(0);  // a copy, not a view
  EXPECT_EQ(view.TotalLength(), (2 * 7 + 3) << 8 | (3 * 7 + 3));
  EXPECT_EQ(view.Protocol(), 9 * 7 + 3);
  const std::uint8_t source[4] = {12 * 7 + 3, 13 * 7 + 3, 14 * 7 + 3, 15 * 7 + 3};
  std::uint32_t expected;
  std::memcpy(&expected, source, 4);
  EXPECT_EQ(view.SourceAddress(), expected);
}

TEST(PacketRow, TcpAndUdpRowsShowEveryColumn) {
  Datagram tcp{.protocol = kProtocolTCP,
               .source = "192.168.1.20",
               .destination = "8.8.4.4",
               .sourcePort = 51000,
               .destinationPort = 443,
               .payload = "GET / HTTP/1.1\r\n"};
  EXPECT_EQ(RowOf(tcp),
            (std::vector<std::string>{"TCP", "192.168.1.20", "51000", "8.8.4.4", "443", "56", "GET / HTTP/1.1\r\n"}));
  Datagram udp{.protocol = kProtocolUDP,
               .source = "0.0.0.0",
               .destination = "255.255.255.255",
               .sourcePort = 68,
               .destinationPort = 67,
               .payload = "dhcp"};
  EXPECT_EQ(RowOf(udp), (std::vector<std::string>{"UDP", "0.0.0.0", "68", "255.255.255.255", "67", "32", "dhcp"}));
  Datagram icmp{.protocol = kProtocolICMP, .source = "127.0.0.1", .destination = "127.0.0.2", .payload = "ping"};
  EXPECT_EQ(RowOf(icmp), (std::vector<std::string>{"ICMP", "127.0.0.1", "", "127.0.0.2", "", "32", ""}));
}

TEST(PacketRow, PortsAndPayloadSitWhereTheHeadersSay) {
  using Row = std::vector<std::string>;
  const auto rowOf = [](const std::vector<std::uint8_t>& bytes) {
    RecordingTable table;
    table.AddRow(ListedRowOf(bytes, 0));
    return table.Rows()[0];
  };
  // 12 bytes of IPv4 options: the ports and the payload follow them.
  const Datagram udp{.protocol = kProtocolUDP,
                     .sourcePort = 39001,
                     .destinationPort = 5354,
                     .ipOptions = {0x94, 0x04, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0},
                     .payload = "data"};
  EXPECT_EQ(RowOf(udp), (Row{"UDP", "10.0.0.1", "39001", "10.0.0.2", "5354", "44", "data"}));
  // TCP timestamp options: the payload starts after them.
  const Datagram tcp{.protocol = kProtocolTCP,
                     .sourcePort = 1111,
                     .destinationPort = 2222,
                     .tcpOptions = {1, 1, 8, 10, 1, 2, 3, 4, 5, 6, 7, 8},
                     .payload = "GET /"};
  EXPECT_EQ(RowOf(tcp), (Row{"TCP", "10.0.0.1", "1111", "10.0.0.2", "2222", "57", "GET /"}));

  // A first fragment has its headers; a later one is data from the IPv4 header's end, without ports.
  const Datagram letters{.protocol = kProtocolUDP, .sourcePort = 0x4142, .destinationPort = 0x4344, .payload = "x"};
  std::vector<std::uint8_t> fragment = letters.Bytes();
  fragment[6] = 0x20;  // more fragments, offset 0
  EXPECT_EQ(rowOf(fragment), (Row{"UDP", "10.0.0.1", "16706", "10.0.0.2", "17220", "29", "x"}));
  fragment[6] = 0x00, fragment[7] = 0x03;  // offset 24 bytes
  EXPECT_EQ(rowOf(fragment), (Row{"UDP", "10.0.0.1", "", "10.0.0.2", "", "29", "ABCD"}));

  // A header length below 20, or past the bytes: still listed, without ports and payload.
  std::vector<std::uint8_t> bytes = udp.Bytes();
  bytes[0] = 0x44;
  EXPECT_EQ(rowOf(bytes), (Row{"UDP", "10.0.0.1", "", "10.0.0.2", "", "44", ""}));
  bytes[0] = 0x4F;  // 60 bytes
  EXPECT_EQ(rowOf(bytes), (Row{"UDP", "10.0.0.1", "", "10.0.0.2", "", "44", ""}));

  // A TCP data offset below 5, or past the end: ports, but no payload.
  bytes = tcp.Bytes();
  bytes[32] = 0x40;
  EXPECT_EQ(rowOf(bytes), (Row{"TCP", "10.0.0.1", "1111", "10.0.0.2", "2222", "57", ""}));
  bytes[32] = 0xF0;  // 60 bytes, 37 are there
  EXPECT_EQ(rowOf(bytes), (Row{"TCP", "10.0.0.1", "1111", "10.0.0.2", "2222", "57", ""}));
  bytes.resize(32);  // the data offset itself is missing
  bytes[2] = 0, bytes[3] = 32;
  EXPECT_EQ(rowOf(bytes), (Row{"TCP", "10.0.0.1", "1111", "10.0.0.2", "2222", "32", ""}));

  // A UDP datagram too short for its header: the ports while they are there, no payload.
  bytes = Datagram{.protocol = kProtocolUDP, .sourcePort = 7, .destinationPort = 9}.Bytes();
  bytes.resize(26);
  EXPECT_EQ(rowOf(bytes), (Row{"UDP", "10.0.0.1", "7", "10.0.0.2", "9", "28", ""}));
  bytes.resize(23);
  EXPECT_EQ(rowOf(bytes), (Row{"UDP", "10.0.0.1", "", "10.0.0.2", "", "28", ""}));
}

TEST(PacketRow, PortsAndLengthsAreUnsigned) {
  Datagram udp{.protocol = kProtocolUDP, .sourcePort = 0xFFFF, .destinationPort = 0x0050};
  const auto row = RowOf(udp);
  EXPECT_EQ(row[2], "65535");
  EXPECT_EQ(row[4], "80");
  udp.totalLengthField = 0xFFFF;
  EXPECT_EQ(RowOf(udp)[5], "65535");
}

TEST(PacketRow, LengthColumnShowsTheFieldEvenWhenItDisagrees) {
  Datagram udp{.protocol = kProtocolUDP, .payload = "abc", .totalLengthField = 9999};
  EXPECT_EQ(RowOf(udp)[5], "9999");
  udp.totalLengthField = 0;
  EXPECT_EQ(RowOf(udp)[5], "0");
  udp.totalLengthField = 20;  // shorter than the bytes: the datagram ends there, before its ports
  EXPECT_EQ(RowOf(udp), (std::vector<std::string>{"UDP", "10.0.0.1", "", "10.0.0.2", "", "20", ""}));
}

TEST(PacketRow, PayloadTextStopsAtTheFirstZeroOrTheBufferEnd) {
  Datagram udp{.protocol = kProtocolUDP, .payload = std::string("\0hidden", 7)};
  EXPECT_EQ(RowOf(udp)[6], "");
  udp.payload = std::string("seen\0hidden", 11);
  EXPECT_EQ(RowOf(udp)[6], "seen");
  // No zero before the end: up to the last byte of the buffer and no further.
  udp.payload = std::string(3000, 'x');
  EXPECT_EQ(RowOf(udp)[6], std::string(kReceiveBufferSize - 28, 'x'));
  Datagram tcp{.protocol = kProtocolTCP, .payload = std::string(2100, '\xb0')};
  EXPECT_EQ(RowOf(tcp)[6], std::string(kReceiveBufferSize - 40, '\xb0'));
  // High bytes are kept raw; decoding belongs to the dialog.
  udp.payload = "\xc4\xe3\xba\xc3";
  EXPECT_EQ(RowOf(udp)[6], "\xc4\xe3\xba\xc3");
}

TEST(ListedRowOf, BytesPastAShortDatagramReadAsZero) {
  // Only the version byte and half the total length: every other field is zero.
  const std::uint8_t bytes[] = {0x45, 0x00, 0x01};
  const ListedRow row = ListedRowOf(bytes, 7);
  EXPECT_EQ(row.totalLength, 0x0100);
  EXPECT_EQ(row.protocol, ProtocolClass::OTHER);
  EXPECT_EQ(row.source, 0u);
  EXPECT_EQ(row.sourcePort, 0);
  EXPECT_EQ(row.datagram.size(), 3u);
  EXPECT_EQ(row.captureTimeNs, 7);
  Datagram udp{.protocol = kProtocolUDP, .payload = "abc"};
  std::vector<std::uint8_t> cut = udp.Bytes();
  cut.resize(29);  // the payload's first byte and no more
  PacketRow texts;
  BuildPacketRow(ListedRowOf(cut, 0), texts);
  EXPECT_EQ(texts.columns[6], "a");
  cut.resize(26);  // not even the whole UDP header
  BuildPacketRow(ListedRowOf(cut, 0), texts);
  EXPECT_EQ(texts.columns[6], "");
  EXPECT_EQ(texts.columns[4], "80");
}

}  // namespace
}  // namespace orvanel
