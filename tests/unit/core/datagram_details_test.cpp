#include "capture/datagram_details.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <ostream>

#include "tests/support/datagram_builder.h"

namespace orvanel {
namespace {

using test::Datagram;
using Layer = DetailLayerId;
using Id = DetailFieldId;

// A field as the decoder gives it: its value and what it found.
struct Seen {
  std::uint32_t value = 0;
  Finding finding = Finding::None;
  std::array<std::size_t, 2> numbers{};
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << seen.value << " finding " << int(seen.finding) << " (" << seen.numbers[0] << ", " << seen.numbers[1]
             << ")";
}

constexpr Seen kMissing{0, Finding::Missing};
constexpr Seen kNoSuchField{0xDEADBEEF, Finding::None};

const DetailField* Find(const std::vector<DetailLayer>& layers, Layer layer, Id id, bool quoted = false) {
  for (const DetailLayer& each : layers) {
    if (each.id != layer || each.quoted != quoted) continue;
    for (const DetailField& field : each.fields) {
      if (field.id == id) return &field;
    }
  }
  return nullptr;
}

Seen Field(const std::vector<DetailLayer>& layers, Layer layer, Id id, bool quoted = false) {
  const DetailField* field = Find(layers, layer, id, quoted);
  return field ? Seen{field->value, field->finding, field->numbers} : kNoSuchField;
}

std::vector<Layer> Layers(const std::vector<DetailLayer>& layers) {
  std::vector<Layer> ids;
  for (const DetailLayer& layer : layers) ids.push_back(layer.id);
  return ids;
}

std::vector<Id> Fields(const DetailLayer& layer) {
  std::vector<Id> ids;
  for (const DetailField& field : layer.fields) ids.push_back(field.id);
  return ids;
}

// The fields with faults, those with faulty options as well, in order.
std::vector<Id> Faults(const std::vector<DetailLayer>& layers) {
  std::vector<Id> faults;
  for (const DetailLayer& layer : layers) {
    for (const DetailField& field : layer.fields) {
      const bool faultyOption =
          std::any_of(field.options.begin(), field.options.end(), [](const DetailOption& o) { return o.Fault(); });
      if (field.Fault() || faultyOption) faults.push_back(field.id);
    }
  }
  return faults;
}

std::uint32_t Address(const char* dotted) {
  std::uint32_t address;
  inet_pton(AF_INET, dotted, &address);
  return address;
}

// Decodes a copy of exactly these bytes, so a read past them shows under ASan.
std::vector<DetailLayer> Describe(const std::vector<std::uint8_t>& bytes, std::size_t length) {
  const std::vector<std::uint8_t> exact(bytes.begin(), bytes.begin() + static_cast<long>(length));
  return DescribeDatagram(exact);
}

TEST(DatagramDetails, TcpWithIpAndTcpOptionsDecodesEveryField) {
  Datagram tcp{.protocol = kProtocolTCP,
               .source = "192.0.2.1",
               .destination = "198.51.100.7",
               .sourcePort = 51000,
               .destinationPort = 443,
               // Record route (two addresses, pointer at the second), router alert, no-op, end of list.
               .ipOptions = {7, 11, 8, 10, 0, 0, 1, 10, 0, 0, 2, 148, 4, 0, 0, 1, 0, 0, 0, 0},
               // MSS 1460, no-op, window scale 7, SACK permitted, timestamps, end of list.
               .tcpOptions = {2, 4, 5, 180, 1, 3, 3, 7, 4, 2, 8, 10, 0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 0},
               .payload = "hi"};
  std::vector<std::uint8_t> bytes = tcp.Bytes();
  bytes[1] = 0xB9;                   // DSCP 46, ECN 1
  bytes[4] = 0x1C, bytes[5] = 0x46;  // identification
  bytes[6] = 0x40;                   // DF
  const std::size_t tcpAt = 40;
  bytes[tcpAt + 4] = 0x12, bytes[tcpAt + 7] = 0x78;    // sequence 0x12000078
  bytes[tcpAt + 11] = 1;                               // acknowledgement 1
  bytes[tcpAt + 13] = 0x52;                            // ECE, ACK, SYN
  bytes[tcpAt + 14] = 0xFA, bytes[tcpAt + 15] = 0xF0;  // window 64240
  bytes[tcpAt + 16] = 0x0C, bytes[tcpAt + 17] = 0x99;  // over the pseudo-header too
  test::SetHeaderChecksum(bytes);
  const auto layers = DescribeDatagram(bytes);
  ASSERT_EQ(Layers(layers), (std::vector<Layer>{Layer::Ipv4, Layer::Tcp, Layer::Data}));
  EXPECT_EQ(Fields(layers[0]),
            (std::vector<Id>{Id::Version, Id::HeaderLength, Id::TypeOfService, Id::TotalLength, Id::Identification,
                             Id::IpFlags, Id::FragmentOffset, Id::TimeToLive, Id::Protocol, Id::HeaderChecksum,
                             Id::SourceAddress, Id::DestinationAddress, Id::Options}));
  EXPECT_EQ(Fields(layers[1]),
            (std::vector<Id>{Id::SourcePort, Id::DestinationPort, Id::SequenceNumber, Id::AcknowledgementNumber,
                             Id::DataOffset, Id::TcpFlags, Id::Window, Id::Checksum, Id::UrgentPointer, Id::Options}));
  const std::vector<std::pair<Id, std::uint32_t>> ipValues = {{Id::Version, 4},
                                                              {Id::HeaderLength, 40},
                                                              {Id::TypeOfService, 0xB9},
                                                              {Id::TotalLength, 86},
                                                              {Id::Identification, 0x1C46},
                                                              {Id::IpFlags, 2},
                                                              {Id::FragmentOffset, 0},
                                                              {Id::TimeToLive, 64},
                                                              {Id::Protocol, kProtocolTCP},
                                                              {Id::SourceAddress, Address("192.0.2.1")},
                                                              {Id::DestinationAddress, Address("198.51.100.7")},
                                                              {Id::Options, 20}};
  for (const auto& [id, value] : ipValues) EXPECT_EQ(Field(layers, Layer::Ipv4, id), Seen{value}) << int(id);
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::HeaderChecksum),
            (Seen{std::uint32_t(bytes[10] << 8 | bytes[11]), Finding::ChecksumRight}));
  const std::vector<std::pair<Id, std::uint32_t>> tcpValues = {{Id::SourcePort, 51000},
                                                               {Id::DestinationPort, 443},
                                                               {Id::SequenceNumber, 0x12000078},
                                                               {Id::AcknowledgementNumber, 1},
                                                               {Id::DataOffset, 44},
                                                               {Id::TcpFlags, 0x52},
                                                               {Id::Window, 64240},
                                                               {Id::Options, 24}};
  for (const auto& [id, value] : tcpValues) EXPECT_EQ(Field(layers, Layer::Tcp, id), Seen{value}) << int(id);
  EXPECT_EQ(Field(layers, Layer::Tcp, Id::Checksum), (Seen{0x0C99, Finding::ChecksumRight}));
  EXPECT_EQ(Field(layers, Layer::Data, Id::DataLength), Seen{2});
  // The options one each, with the data of those that have any.
  const auto options = [](const DetailField& field) {
    std::vector<std::pair<int, std::vector<std::uint8_t>>> kinds;
    for (const DetailOption& option : field.options) kinds.push_back({option.kind, option.data});
    return kinds;
  };
  using Options = std::vector<std::pair<int, std::vector<std::uint8_t>>>;
  EXPECT_EQ(options(*Find(layers, Layer::Ipv4, Id::Options)),
            (Options{{7, {8, 10, 0, 0, 1, 10, 0, 0, 2}}, {148, {0, 0}}, {1, {}}, {0, {}}}));
  EXPECT_EQ(options(*Find(layers, Layer::Tcp, Id::Options)),
            (Options{{2, {5, 180}}, {1, {}}, {3, {7}}, {4, {}}, {8, {0, 0, 0, 5, 0, 0, 0, 9}}, {0, {}}}));
  EXPECT_EQ(Find(layers, Layer::Tcp, Id::Options)->options[2].length, 3);
  EXPECT_EQ(Find(layers, Layer::Tcp, Id::Options)->options[1].length, std::nullopt);
  EXPECT_TRUE(Faults(layers).empty());

  // A wrong checksum is marked, with the value it should hold.
  const std::uint32_t ipChecksum = bytes[10] << 8 | bytes[11];
  bytes[10] ^= 1;
  EXPECT_EQ(Faults(DescribeDatagram(bytes)), std::vector<Id>{Id::HeaderChecksum});
  const DetailField wrongIp = *Find(DescribeDatagram(bytes), Layer::Ipv4, Id::HeaderChecksum);
  EXPECT_EQ(wrongIp.finding, Finding::ChecksumWrong);
  EXPECT_EQ(wrongIp.numbers[0], ipChecksum);
  bytes[10] ^= 1;
  bytes[tcpAt + 45] ^= 0x40;  // "hi" becomes "h)"
  const DetailField wrongTcp = *Find(DescribeDatagram(bytes), Layer::Tcp, Id::Checksum);
  EXPECT_EQ(wrongTcp.finding, Finding::ChecksumWrong);
  EXPECT_EQ(wrongTcp.numbers[0], 0x0C99u + 0x40u);
  // Not all of the segment received: nothing to check it by.
  EXPECT_EQ(Field(Describe(bytes, bytes.size() - 1), Layer::Tcp, Id::Checksum).finding, Finding::None);
}

TEST(DatagramDetails, ATruncatedDatagramShowsWhatIsThereAndMarksTheRestMissing) {
  Datagram udp{.protocol = kProtocolUDP, .sourcePort = 5353, .destinationPort = 53, .payload = "abcdefgh"};
  std::vector<std::uint8_t> bytes = udp.Bytes();
  bytes[24] = 0, bytes[25] = 16;  // UDP length
  test::SetHeaderChecksum(bytes);
  // Every cut decodes without reading past the bytes.
  for (std::size_t length = 0; length <= bytes.size(); ++length) Describe(bytes, length);

  const auto none = Describe(bytes, 0);
  EXPECT_EQ(Layers(none), std::vector<Layer>{Layer::Ipv4});
  for (const DetailField& field : none[0].fields) EXPECT_EQ(field.finding, Finding::Missing) << int(field.id);

  const auto inHeader = Describe(bytes, 13);  // up to the first byte of the source address
  EXPECT_EQ(Field(inHeader, Layer::Ipv4, Id::HeaderLength), (Seen{20, Finding::BeyondReceived, {13, 0}}));
  EXPECT_EQ(Field(inHeader, Layer::Ipv4, Id::TotalLength), (Seen{36, Finding::Truncated, {13, 23}}));
  EXPECT_EQ(Field(inHeader, Layer::Ipv4, Id::Protocol), Seen{kProtocolUDP});
  EXPECT_EQ(Field(inHeader, Layer::Ipv4, Id::SourceAddress), kMissing);
  for (const Id id : {Id::SourcePort, Id::DestinationPort, Id::UdpLength, Id::UdpChecksum}) {
    EXPECT_EQ(Field(inHeader, Layer::Udp, id), kMissing) << int(id);
  }

  const auto inUdp = Describe(bytes, 25);  // ports and half the length
  EXPECT_EQ(Field(inUdp, Layer::Ipv4, Id::SourceAddress), Seen{Address("10.0.0.1")});
  EXPECT_EQ(Field(inUdp, Layer::Udp, Id::SourcePort), Seen{5353});
  EXPECT_EQ(Field(inUdp, Layer::Udp, Id::DestinationPort), Seen{53});
  EXPECT_EQ(Field(inUdp, Layer::Udp, Id::UdpLength), kMissing);
  EXPECT_EQ(Layers(inUdp), (std::vector<Layer>{Layer::Ipv4, Layer::Udp}));

  const auto inData = Describe(bytes, 31);
  EXPECT_EQ(Field(inData, Layer::Udp, Id::UdpLength), Seen{16});
  EXPECT_EQ(Field(inData, Layer::Udp, Id::UdpChecksum), Seen{0});
  EXPECT_EQ(Field(inData, Layer::Data, Id::DataLength), (Seen{8, Finding::RestMissing, {3, 0}}));
  EXPECT_EQ(Faults(inData), (std::vector<Id>{Id::TotalLength, Id::DataLength}));
  EXPECT_EQ(Faults(Describe(bytes, bytes.size())), std::vector<Id>{});

  // Options cut inside the header, and an option running past its header.
  Datagram withOptions{.protocol = kProtocolUDP, .ipOptions = {1, 7, 11, 4, 10, 0, 0, 1, 0, 0, 0, 0}};
  std::vector<std::uint8_t> optioned = withOptions.Bytes();
  const auto cut = Describe(optioned, 27);
  EXPECT_EQ(Field(cut, Layer::Ipv4, Id::Options), (Seen{12, Finding::MissingBytes, {5, 0}}));
  const std::vector<DetailOption>& options = Find(cut, Layer::Ipv4, Id::Options)->options;
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[1].kind, 7);
  EXPECT_EQ(options[1].length, 11);
  EXPECT_EQ(options[1].finding, Finding::MissingBytes);
  EXPECT_EQ(options[1].numbers[0], 5u);
  EXPECT_TRUE(options[1].data.empty());
  optioned[22] = 1;  // a length below 2 ends the list
  const auto broken = DescribeDatagram(optioned);
  ASSERT_EQ(Find(broken, Layer::Ipv4, Id::Options)->options.size(), 2u);
  const DetailOption& tooShort = Find(broken, Layer::Ipv4, Id::Options)->options[1];
  EXPECT_EQ(tooShort.length, 1);
  EXPECT_EQ(tooShort.finding, Finding::BelowMinimum);
  EXPECT_TRUE(tooShort.Fault());
}

TEST(DatagramDetails, MalformedHeadersAreMarkedAndNeverTakenAtTheirWord) {
  const std::vector<std::uint8_t> tcp = Datagram{.protocol = kProtocolTCP, .payload = "data"}.Bytes();

  std::vector<std::uint8_t> shortHeader = tcp;
  shortHeader[0] = 0x44;  // 16-byte header
  auto layers = DescribeDatagram(shortHeader);
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::HeaderLength), (Seen{16, Finding::BelowMinimum, {20, 0}}));
  EXPECT_EQ(Layers(layers), (std::vector<Layer>{Layer::Ipv4, Layer::Unlocated}));
  EXPECT_EQ(Field(layers, Layer::Unlocated, Id::Note).finding, Finding::HeaderLengthInvalid);
  EXPECT_TRUE(IsFault(Finding::HeaderLengthInvalid));

  std::vector<std::uint8_t> version6 = tcp;
  version6[0] = 0x65;
  EXPECT_EQ(Field(DescribeDatagram(version6), Layer::Ipv4, Id::Version), (Seen{6, Finding::NotFour}));

  std::vector<std::uint8_t> totalTooSmall = tcp;
  totalTooSmall[3] = 12;
  layers = DescribeDatagram(totalTooSmall);
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::TotalLength), (Seen{12, Finding::BelowHeaderLength}));
  EXPECT_EQ(Field(layers, Layer::Tcp, Id::DestinationPort), Seen{80});  // the received bytes still decode

  std::vector<std::uint8_t> padded = tcp;
  padded.insert(padded.end(), 6, 0);
  EXPECT_EQ(Field(DescribeDatagram(padded), Layer::Ipv4, Id::TotalLength), (Seen{44, Finding::Trailing, {6, 0}}));
  EXPECT_EQ(Field(DescribeDatagram(padded), Layer::Data, Id::DataLength), Seen{4});

  std::vector<std::uint8_t> flags = tcp;
  flags[6] = 0xA0, flags[7] = 0xB9;  // reserved bit and MF, offset 185
  test::SetHeaderChecksum(flags);
  layers = DescribeDatagram(flags);
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::IpFlags), (Seen{5, Finding::ReservedBitSet}));
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::FragmentOffset), Seen{185});
  // A later fragment carries no TCP header: its bytes are not read as one.
  EXPECT_EQ(Layers(layers), (std::vector<Layer>{Layer::Ipv4, Layer::Fragment}));
  EXPECT_EQ(Field(layers, Layer::Fragment, Id::Note), (Seen{0, Finding::NoTransportHeader, {kProtocolTCP, 0}}));
  EXPECT_EQ(Field(layers, Layer::Fragment, Id::DataLength), Seen{24});
  EXPECT_EQ(Faults(layers), std::vector<Id>{Id::IpFlags});

  std::vector<std::uint8_t> offsetTooSmall = tcp;
  offsetTooSmall[32] = 0x40;  // data offset 4
  layers = DescribeDatagram(offsetTooSmall);
  EXPECT_EQ(Field(layers, Layer::Tcp, Id::DataOffset), (Seen{16, Finding::BelowMinimum, {20, 0}}));
  EXPECT_EQ(Field(layers, Layer::Tcp, Id::Window), Seen{0});
  EXPECT_EQ(Layers(layers), (std::vector<Layer>{Layer::Ipv4, Layer::Tcp}));
  std::vector<std::uint8_t> offsetTooLarge = tcp;
  offsetTooLarge[32] = 0xF0;  // 60 bytes, of 24 received
  layers = DescribeDatagram(offsetTooLarge);
  EXPECT_EQ(Field(layers, Layer::Tcp, Id::DataOffset), (Seen{60, Finding::BeyondReceived, {24, 0}}));
  EXPECT_EQ(Field(layers, Layer::Tcp, Id::Options), (Seen{40, Finding::MissingBytes, {36, 0}}));
  EXPECT_EQ(Layers(layers), (std::vector<Layer>{Layer::Ipv4, Layer::Tcp}));

  std::vector<std::uint8_t> udp = Datagram{.protocol = kProtocolUDP, .payload = "x"}.Bytes();
  test::SetHeaderChecksum(udp);
  udp[25] = 5;
  EXPECT_EQ(Field(DescribeDatagram(udp), Layer::Udp, Id::UdpLength), (Seen{5, Finding::BelowMinimum, {8, 0}}));
  udp[25] = 12;
  EXPECT_EQ(Field(DescribeDatagram(udp), Layer::Udp, Id::UdpLength), (Seen{12, Finding::DisagreesWithIp, {9, 0}}));
  EXPECT_EQ(Faults(DescribeDatagram(udp)), std::vector<Id>{Id::UdpLength});

  const auto gre = DescribeDatagram(Datagram{.protocol = 47, .payload = "tunnel"}.Bytes());
  EXPECT_EQ(Layers(gre), (std::vector<Layer>{Layer::Ipv4, Layer::Payload}));
  EXPECT_EQ(gre[1].protocol, 47);
  EXPECT_EQ(Field(gre, Layer::Payload, Id::DataLength), Seen{6});
}

std::vector<std::uint8_t> Icmp(std::uint8_t type, std::uint8_t code, std::string rest = {}) {
  std::vector<std::uint8_t> bytes = Datagram{.protocol = kProtocolICMP, .payload = std::move(rest)}.Bytes();
  bytes[20] = type;
  bytes[21] = code;
  return bytes;
}

TEST(DatagramDetails, IcmpMessagesGiveTheFieldsOfTheirType) {
  for (int type = 0; type < 256; ++type) {
    const auto layers = DescribeDatagram(Icmp(static_cast<std::uint8_t>(type), 0, std::string(20, '\0')));
    EXPECT_EQ(Field(layers, Layer::Icmp, Id::IcmpType), Seen{std::uint32_t(type)});
    EXPECT_EQ(Faults({layers[1]}), std::vector<Id>{}) << type;
  }

  std::vector<std::uint8_t> echo = Icmp(8, 0, "payload!");
  echo[24] = 0x12, echo[25] = 0x34, echo[27] = 9;
  auto layers = DescribeDatagram(echo);
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::IcmpIdentifier), Seen{4660});
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::SequenceNumber), Seen{9});
  EXPECT_EQ(Field(layers, Layer::Data, Id::DataLength), Seen{8});

  std::vector<std::uint8_t> timestamp = Icmp(14, 0, std::string(12, '\0'));
  timestamp[31] = 100, timestamp[35] = 200, timestamp[39] = 44;
  layers = DescribeDatagram(timestamp);
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::OriginateTimestamp), Seen{100});
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::TransmitTimestamp), Seen{44});
  EXPECT_EQ(Field(layers, Layer::Data, Id::DataLength), Seen{0});
  EXPECT_EQ(Field(DescribeDatagram(Icmp(14, 0, "abc")), Layer::Icmp, Id::TransmitTimestamp), kMissing);

  // An error quotes the start of the datagram it is about.
  std::vector<std::uint8_t> quoted = Datagram{.protocol = kProtocolUDP,
                                              .source = "10.0.0.2",
                                              .destination = "203.0.113.9",
                                              .sourcePort = 40000,
                                              .destinationPort = 33434,
                                              .payload = "probe"}
                                         .Bytes();
  quoted.resize(28);
  std::vector<std::uint8_t> needFrag = Icmp(3, 4, std::string(quoted.begin(), quoted.end()));
  needFrag[26] = 0x05, needFrag[27] = 0xDC;
  layers = DescribeDatagram(needFrag);
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::IcmpCode), Seen{4});
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::NextHopMtu), Seen{1500});
  EXPECT_EQ(Layers(layers), (std::vector<Layer>{Layer::Ipv4, Layer::Icmp, Layer::Ipv4, Layer::Udp, Layer::Data}));
  EXPECT_FALSE(layers[1].quoted);
  EXPECT_TRUE(layers[2].quoted && layers[3].quoted && layers[4].quoted);
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::DestinationAddress, true), Seen{Address("203.0.113.9")});
  EXPECT_EQ(Field(layers, Layer::Udp, Id::DestinationPort, true), Seen{33434});
  EXPECT_EQ(Field(layers, Layer::Data, Id::DataLength, true), (Seen{5, Finding::RestMissing, {0, 0}}));

  // RFC 4884: after the quoted datagram, padded to 128 bytes, an extension
  // structure; here RFC 4950's MPLS label stack of one entry.
  std::string extended(quoted.begin(), quoted.end());
  extended.resize(128, '\0');
  extended += std::string("\x20\x00\xca\x0d\x00\x08\x01\x01\x03\xe8\x11\x01", 12);
  std::vector<std::uint8_t> timeExceeded = Icmp(11, 0, extended);
  timeExceeded[25] = 32;  // words of the quoted datagram
  layers = DescribeDatagram(timeExceeded);
  EXPECT_EQ(Layers(layers),
            (std::vector<Layer>{Layer::Ipv4, Layer::Icmp, Layer::Ipv4, Layer::Udp, Layer::Data, Layer::IcmpExtension}));
  EXPECT_EQ(Field(layers, Layer::Icmp, Id::QuotedLength), Seen{32});
  EXPECT_EQ(Field(layers, Layer::Ipv4, Id::TotalLength, true), Seen{33});  // the padding is no surplus
  EXPECT_EQ(Field(layers, Layer::IcmpExtension, Id::ExtensionVersion), Seen{2});
  EXPECT_EQ(Field(layers, Layer::IcmpExtension, Id::ExtensionChecksum), (Seen{0xCA0D, Finding::ChecksumRight}));
  EXPECT_EQ(Field(layers, Layer::IcmpExtension, Id::ExtensionObjects), Seen{8});
  const DetailField& objects = *Find(layers, Layer::IcmpExtension, Id::ExtensionObjects);
  ASSERT_EQ(objects.options.size(), 1u);
  EXPECT_EQ(objects.options[0].kind, 1);
  EXPECT_EQ(objects.options[0].length, 8);
  EXPECT_EQ(objects.options[0].data, (std::vector<std::uint8_t>{1, 0x03, 0xE8, 0x11, 0x01}));
  EXPECT_TRUE(Faults({layers[5]}).empty());
  // An object longer than the bytes, every cut of the structure: said, never read past.
  timeExceeded[20 + 8 + 128 + 5] = 0x20;
  EXPECT_EQ(Find(DescribeDatagram(timeExceeded), Layer::IcmpExtension, Id::ExtensionObjects)->options[0].finding,
            Finding::MissingBytes);
  for (std::size_t length = 20 + 8 + 128; length <= timeExceeded.size(); ++length) Describe(timeExceeded, length);

  const auto cut = Describe(Icmp(8, 0), 22);
  EXPECT_EQ(Field(cut, Layer::Icmp, Id::IcmpCode), Seen{0});
  EXPECT_EQ(Field(cut, Layer::Icmp, Id::Checksum), kMissing);
  EXPECT_EQ(Field(cut, Layer::Icmp, Id::SequenceNumber), kMissing);
}

TEST(DatagramDetails, HexDumpShowsEveryByteSixteenALine) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 18; ++i) bytes.push_back(static_cast<std::uint8_t>(0x1E + i * 5));
  bytes[17] = 0x7F;
  EXPECT_EQ(HexDump(bytes),
            "0000  1e 23 28 2d 32 37 3c 41  46 4b 50 55 5a 5f 64 69  .#(-27<AFKPUZ_di\n"
            "0010  6e 7f                                             n.\n");
  EXPECT_EQ(HexDump({}), "");
  const std::vector<std::uint8_t> big(0x10011, 'A');
  const std::string dump = HexDump(big);
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 0x1002);
  EXPECT_EQ(dump.substr(dump.rfind("00010010")), "00010010  41                                                A\n");
}

}  // namespace
}  // namespace orvanel
