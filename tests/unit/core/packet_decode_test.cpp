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
  Datagram tcp{.protocol = kProtocolTCP, .source = "192.168.1.20", .destination = "8.8.4.4",
               .sourcePort = 51000, .destinationPort = 443, .payload = "GET / HTTP/1.1\r\n"};
  EXPECT_EQ(RowOf(tcp), (std::vector<std::string>{"TCP", "192.168.1.20", "51000", "8.8.4.4", "443", "56",
                                                  "GET / HTTP/1.1\r\n"}));
  Datagram udp{.protocol = kProtocolUDP, .source = "0.0.0.0", .destination = "255.255.255.255",
               .sourcePort = 68, .destinationPort = 67, .payload = "dhcp"};
  EXPECT_EQ(RowOf(udp), (std::vector<std::string>{"UDP", "0.0.0.0", "68", "255.255.255.255", "67", "32", "dhcp"}));
  Datagram icmp{.protocol = kProtocolICMP, .source = "127.0.0.1", .destination = "127.0.0.2", .payload = "ping"};
  EXPECT_EQ(RowOf(icmp), (std::vector<std::string>{"ICMP", "127.0.0.1", "", "127.0.0.2", "", "32", ""}));
}

TEST(PacketRow, OptionsDoNotMoveTheFixedOffsets) {
  // IPv4 options: bytes 20-23 are the option, so the "ports" come from it, and
  // byte 40 falls on the TCP checksum (zero here), which ends the payload text.
  Datagram ipOptions{.protocol = kProtocolTCP, .sourcePort = 1111, .destinationPort = 2222,
                     .ipOptions = {0x94, 0x04, 0x00, 0x00}, .payload = "data"};
  const auto withIpOptions = RowOf(ipOptions);
  EXPECT_EQ(withIpOptions[2], "37892");
  EXPECT_EQ(withIpOptions[4], "0");
  EXPECT_EQ(withIpOptions[6], "");
  // TCP options sit at byte 40 and become the start of the payload text.
  Datagram tcpOptions{.protocol = kProtocolTCP, .sourcePort = 1111, .destinationPort = 2222,
                      .tcpOptions = {0x01, 0x01, 0x01, 0x01}, .payload = "data"};
  const auto withTcpOptions = RowOf(tcpOptions);
  EXPECT_EQ(withTcpOptions[2], "1111");
  EXPECT_EQ(withTcpOptions[4], "2222");
  EXPECT_EQ(withTcpOptions[6], "\x01\x01\x01\x01"
                               "data");
  EXPECT_EQ(withTcpOptions[5], "48");
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
  udp.totalLengthField = 20;  // shorter than the bytes: the payload still shows
  EXPECT_EQ(RowOf(udp)[6], "abc");
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
