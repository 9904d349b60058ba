#include "capture/datagram_details.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "tests/support/datagram_builder.h"

namespace orvanel {
namespace {

using test::Datagram;

const DetailField* Find(const std::vector<DetailLayer>& layers, const std::string& title, const std::string& label) {
  for (const DetailLayer& layer : layers) {
    if (layer.title != title) continue;
    for (const DetailField& field : layer.fields) {
      if (field.label == label) return &field;
    }
  }
  return nullptr;
}

std::string Value(const std::vector<DetailLayer>& layers, const std::string& title, const std::string& label) {
  const DetailField* field = Find(layers, title, label);
  return field ? field->value : "(无此字段)";
}

// A layer's fields as "label=value", options indented below their field.
std::vector<std::string> Lines(const DetailLayer& layer) {
  std::vector<std::string> lines;
  for (const DetailField& field : layer.fields) {
    lines.push_back(field.label + "=" + field.value);
    for (const DetailField& part : field.parts) lines.push_back("  " + part.label + "=" + part.value);
  }
  return lines;
}

std::string Hex16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x%02x", bytes[offset], bytes[offset + 1]);
  return text;
}

std::vector<std::string> Titles(const std::vector<DetailLayer>& layers) {
  std::vector<std::string> titles;
  for (const DetailLayer& layer : layers) titles.push_back(layer.title);
  return titles;
}

std::vector<std::string> Faults(const std::vector<DetailLayer>& layers) {
  std::vector<std::string> faults;
  for (const DetailLayer& layer : layers) {
    for (const DetailField& field : layer.fields) {
      if (field.fault) faults.push_back(layer.title + "/" + field.label);
      for (const DetailField& part : field.parts) {
        if (part.fault) faults.push_back(layer.title + "/" + field.label + "/" + part.label);
      }
    }
  }
  return faults;
}

void SetChecksum(std::vector<std::uint8_t>& bytes) {
  const std::size_t headerLength = (bytes[0] & 0x0F) * 4u;
  bytes[10] = bytes[11] = 0;
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < headerLength; at += 2) sum += bytes[at] << 8 | bytes[at + 1];
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = ~(sum + (sum >> 16)) & 0xFFFF;
  bytes[10] = static_cast<std::uint8_t>(sum >> 8);
  bytes[11] = static_cast<std::uint8_t>(sum);
}

// Decodes a copy of exactly these bytes, so a read past them shows under ASan.
std::vector<DetailLayer> Describe(const std::vector<std::uint8_t>& bytes, std::size_t length) {
  const std::vector<std::uint8_t> exact(bytes.begin(), bytes.begin() + static_cast<long>(length));
  return DescribeDatagram(exact);
}

TEST(DatagramDetails, TcpWithIpAndTcpOptionsDecodesEveryField) {
  Datagram tcp{.protocol = kProtocolTCP, .source = "192.0.2.1", .destination = "198.51.100.7",
               .sourcePort = 51000, .destinationPort = 443,
               // Record route (two addresses, pointer at the second), router alert, no-op, end of list.
               .ipOptions = {7, 11, 8, 10, 0, 0, 1, 10, 0, 0, 2, 148, 4, 0, 0, 1, 0, 0, 0, 0},
               // MSS 1460, no-op, window scale 7, SACK permitted, timestamps, end of list.
               .tcpOptions = {2, 4, 5, 180, 1, 3, 3, 7, 4, 2, 8, 10, 0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 0},
               .payload = "hi"};
  std::vector<std::uint8_t> bytes = tcp.Bytes();
  bytes[1] = 0xB9;                      // DSCP 46, ECN 1
  bytes[4] = 0x1C, bytes[5] = 0x46;     // identification
  bytes[6] = 0x40;                      // DF
  const std::size_t tcpAt = 40;
  bytes[tcpAt + 4] = 0x12, bytes[tcpAt + 7] = 0x78;  // sequence 0x12000078
  bytes[tcpAt + 11] = 1;                              // acknowledgement 1
  bytes[tcpAt + 13] = 0x52;                           // ECE, ACK, SYN
  bytes[tcpAt + 14] = 0xFA, bytes[tcpAt + 15] = 0xF0; // window 64240
  SetChecksum(bytes);
  const auto layers = DescribeDatagram(bytes);
  ASSERT_EQ(Titles(layers), (std::vector<std::string>{"IPv4 首部", "TCP 首部", "数据"}));
  EXPECT_EQ(Lines(layers[0]),
            (std::vector<std::string>{"版本=4", "首部长度=40 字节", "服务类型=0xb9（DSCP 46，ECN 1）", "总长度=86 字节",
                                      "标识=0x1c46（7238）", "标志=0x2（DF 不分片）", "片偏移=0", "生存时间=64",
                                      "协议=6（TCP）", "首部校验和=" + Hex16(bytes, 10) + "（正确）",
                                      "源地址=192.0.2.1", "目的地址=198.51.100.7", "选项=20 字节",
                                      "  记录路由=类型 7，长度 11：指针 8，地址 10.0.0.1, 10.0.0.2",
                                      "  路由器告警=类型 148，长度 4：值 0", "  无操作=类型 1", "  选项表结束=类型 0"}));
  EXPECT_EQ(Lines(layers[1]),
            (std::vector<std::string>{"源端口=51000", "目的端口=443", "序号=301990008", "确认号=1", "数据偏移=44 字节",
                                      "标志=0x52（SYN，ACK，ECE）", "窗口=64240", "校验和=0x0000", "紧急指针=0",
                                      "选项=24 字节", "  最大报文段长度=类型 2，长度 4：1460", "  无操作=类型 1",
                                      "  窗口扩大=类型 3，长度 3：移位 7", "  允许选择确认=类型 4，长度 2",
                                      "  时间戳=类型 8，长度 10：TSval 5，TSecr 9", "  选项表结束=类型 0"}));
  EXPECT_EQ(Lines(layers[2]), std::vector<std::string>{"长度=2 字节"});
  EXPECT_EQ(Faults(layers), std::vector<std::string>{});

  bytes[10] ^= 1;  // a wrong checksum is marked
  EXPECT_EQ(Faults(DescribeDatagram(bytes)), std::vector<std::string>{"IPv4 首部/首部校验和"});
}

TEST(DatagramDetails, ATruncatedDatagramShowsWhatIsThereAndMarksTheRestMissing) {
  Datagram udp{.protocol = kProtocolUDP, .sourcePort = 5353, .destinationPort = 53, .payload = "abcdefgh"};
  std::vector<std::uint8_t> bytes = udp.Bytes();
  bytes[24] = 0, bytes[25] = 16;  // UDP length
  SetChecksum(bytes);
  // Every cut decodes without reading past the bytes.
  for (std::size_t length = 0; length <= bytes.size(); ++length) Describe(bytes, length);

  const auto none = Describe(bytes, 0);
  EXPECT_EQ(Titles(none), std::vector<std::string>{"IPv4 首部"});
  for (const DetailField& field : none[0].fields) EXPECT_EQ(field.value, kMissingValue) << field.label;

  const auto inHeader = Describe(bytes, 13);  // up to the first byte of the source address
  EXPECT_EQ(Value(inHeader, "IPv4 首部", "首部长度"), "20 字节（只收到 13 字节）");
  EXPECT_EQ(Value(inHeader, "IPv4 首部", "总长度"), "36 字节（只收到 13 字节，23 字节缺失）");
  EXPECT_EQ(Value(inHeader, "IPv4 首部", "协议"), "17（UDP）");
  EXPECT_EQ(Value(inHeader, "IPv4 首部", "源地址"), kMissingValue);
  for (const std::string label : {"源端口", "目的端口", "长度", "校验和"}) {
    EXPECT_EQ(Value(inHeader, "UDP 首部", label), kMissingValue) << label;
  }

  const auto inUdp = Describe(bytes, 25);  // ports and half the length
  EXPECT_EQ(Value(inUdp, "IPv4 首部", "源地址"), "10.0.0.1");
  EXPECT_EQ(Value(inUdp, "UDP 首部", "源端口"), "5353");
  EXPECT_EQ(Value(inUdp, "UDP 首部", "目的端口"), "53");
  EXPECT_EQ(Value(inUdp, "UDP 首部", "长度"), kMissingValue);
  EXPECT_EQ(Titles(inUdp), (std::vector<std::string>{"IPv4 首部", "UDP 首部"}));

  const auto inData = Describe(bytes, 31);
  EXPECT_EQ(Value(inData, "UDP 首部", "长度"), "16 字节");
  EXPECT_EQ(Value(inData, "UDP 首部", "校验和"), "0x0000（未使用）");
  EXPECT_EQ(Value(inData, "数据", "长度"), "8 字节（只收到 3 字节，其余缺失）");
  EXPECT_EQ(Faults(inData), (std::vector<std::string>{"IPv4 首部/总长度", "数据/长度"}));
  EXPECT_EQ(Faults(Describe(bytes, bytes.size())), std::vector<std::string>{});

  // Options cut inside the header, and an option running past its header.
  Datagram withOptions{.protocol = kProtocolUDP, .ipOptions = {1, 7, 11, 4, 10, 0, 0, 1, 0, 0, 0, 0}};
  std::vector<std::uint8_t> optioned = withOptions.Bytes();
  const auto cut = Describe(optioned, 27);
  const DetailField* options = Find(cut, "IPv4 首部", "选项");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->value, "12 字节（5 字节缺失）");
  ASSERT_EQ(options->parts.size(), 2u);
  EXPECT_EQ(options->parts[1].value, "类型 7，长度 11（5 字节缺失）");
  EXPECT_TRUE(options->parts[1].fault);
  optioned[22] = 1;  // a length below 2 ends the list
  const auto broken = DescribeDatagram(optioned);
  ASSERT_EQ(Find(broken, "IPv4 首部", "选项")->parts.size(), 2u);
  EXPECT_EQ(Find(broken, "IPv4 首部", "选项")->parts[1].value, "类型 7，长度 1（小于 2，无效）");
}

TEST(DatagramDetails, MalformedHeadersAreMarkedAndNeverTakenAtTheirWord) {
  const std::vector<std::uint8_t> tcp = Datagram{.protocol = kProtocolTCP, .payload = "data"}.Bytes();

  std::vector<std::uint8_t> shortHeader = tcp;
  shortHeader[0] = 0x44;  // 16-byte header
  auto layers = DescribeDatagram(shortHeader);
  EXPECT_EQ(Value(layers, "IPv4 首部", "首部长度"), "16 字节（小于 20，无效）");
  EXPECT_EQ(Titles(layers), (std::vector<std::string>{"IPv4 首部", "载荷"}));
  EXPECT_TRUE(Find(layers, "载荷", "说明")->fault);

  std::vector<std::uint8_t> version6 = tcp;
  version6[0] = 0x65;
  EXPECT_EQ(Value(DescribeDatagram(version6), "IPv4 首部", "版本"), "6（不是 4）");

  std::vector<std::uint8_t> totalTooSmall = tcp;
  totalTooSmall[3] = 12;
  layers = DescribeDatagram(totalTooSmall);
  EXPECT_EQ(Value(layers, "IPv4 首部", "总长度"), "12 字节（小于首部长度）");
  EXPECT_EQ(Value(layers, "TCP 首部", "目的端口"), "80");  // the received bytes still decode

  std::vector<std::uint8_t> padded = tcp;
  padded.insert(padded.end(), 6, 0);
  EXPECT_EQ(Value(DescribeDatagram(padded), "IPv4 首部", "总长度"), "44 字节（其后多收到 6 字节）");
  EXPECT_EQ(Value(DescribeDatagram(padded), "数据", "长度"), "4 字节");

  std::vector<std::uint8_t> flags = tcp;
  flags[6] = 0xA0, flags[7] = 0xB9;  // reserved bit and MF, offset 185
  layers = DescribeDatagram(flags);
  EXPECT_EQ(Value(layers, "IPv4 首部", "标志"), "0x5（保留位，MF 更多分片）");
  EXPECT_TRUE(Find(layers, "IPv4 首部", "标志")->fault);
  EXPECT_EQ(Value(layers, "IPv4 首部", "片偏移"), "185（1480 字节）");
  // A later fragment carries no TCP header: its bytes are not read as one.
  EXPECT_EQ(Titles(layers), (std::vector<std::string>{"IPv4 首部", "分片数据"}));
  EXPECT_EQ(Value(layers, "分片数据", "说明"), "片偏移不为 0，不含 TCP 首部");
  EXPECT_EQ(Value(layers, "分片数据", "长度"), "24 字节");

  std::vector<std::uint8_t> offsetTooSmall = tcp;
  offsetTooSmall[32] = 0x40;  // data offset 4
  layers = DescribeDatagram(offsetTooSmall);
  EXPECT_EQ(Value(layers, "TCP 首部", "数据偏移"), "16 字节（小于 20，无效）");
  EXPECT_EQ(Value(layers, "TCP 首部", "窗口"), "0");
  EXPECT_EQ(Titles(layers), (std::vector<std::string>{"IPv4 首部", "TCP 首部"}));
  std::vector<std::uint8_t> offsetTooLarge = tcp;
  offsetTooLarge[32] = 0xF0;  // 60 bytes, of 24 received
  layers = DescribeDatagram(offsetTooLarge);
  EXPECT_EQ(Value(layers, "TCP 首部", "数据偏移"), "60 字节（只收到 24 字节）");
  EXPECT_EQ(Find(layers, "TCP 首部", "选项")->value, "40 字节（36 字节缺失）");
  EXPECT_EQ(Titles(layers), (std::vector<std::string>{"IPv4 首部", "TCP 首部"}));

  std::vector<std::uint8_t> udp = Datagram{.protocol = kProtocolUDP, .payload = "x"}.Bytes();
  udp[25] = 5;
  EXPECT_EQ(Value(DescribeDatagram(udp), "UDP 首部", "长度"), "5 字节（小于 8，无效）");
  udp[25] = 12;
  EXPECT_EQ(Value(DescribeDatagram(udp), "UDP 首部", "长度"), "12 字节（IP 载荷为 9 字节）");
  EXPECT_TRUE(Find(DescribeDatagram(udp), "UDP 首部", "长度")->fault);

  const auto gre = DescribeDatagram(Datagram{.protocol = 47, .payload = "tunnel"}.Bytes());
  EXPECT_EQ(Titles(gre), (std::vector<std::string>{"IPv4 首部", "载荷（GRE）"}));
  EXPECT_EQ(Value(gre, "载荷（GRE）", "长度"), "6 字节");
}

std::vector<std::uint8_t> Icmp(std::uint8_t type, std::uint8_t code, std::string rest = {}) {
  std::vector<std::uint8_t> bytes = Datagram{.protocol = kProtocolICMP, .payload = std::move(rest)}.Bytes();
  bytes[20] = type;
  bytes[21] = code;
  return bytes;
}

TEST(DatagramDetails, EveryIcmpTypeAndCodeHasItsName) {
  const std::map<int, std::string> names = {
      {0, "回显应答"},     {3, "目标不可达"},   {4, "源点抑制"},     {5, "重定向"},       {8, "回显请求"},
      {9, "路由器通告"},   {10, "路由器询问"},  {11, "超时"},        {12, "参数问题"},    {13, "时间戳请求"},
      {14, "时间戳应答"},  {15, "信息请求"},    {16, "信息应答"},    {17, "地址掩码请求"}, {18, "地址掩码应答"},
  };
  for (int type = 0; type < 256; ++type) {
    const auto layers = DescribeDatagram(Icmp(static_cast<std::uint8_t>(type), 0, std::string(20, '\0')));
    const auto known = names.find(type);
    EXPECT_EQ(Value(layers, "ICMP 报文", "类型"),
              std::to_string(type) + "（" + (known != names.end() ? known->second : "未知类型") + "）");
    for (const DetailField& field : layers[1].fields) EXPECT_FALSE(field.fault) << type << field.label;
  }
  EXPECT_EQ(IcmpCodeName(3, 3), "端口不可达");
  EXPECT_EQ(IcmpCodeName(3, 15), "优先级被截止");
  EXPECT_EQ(IcmpCodeName(3, 16), "未知代码");
  EXPECT_EQ(IcmpCodeName(11, 1), "分片重组超时");
  EXPECT_EQ(IcmpCodeName(12, 2), "长度错误");
  EXPECT_EQ(IcmpCodeName(9, 16), "不转发普通流量");
  EXPECT_EQ(IcmpCodeName(8, 0), "");
  EXPECT_EQ(IcmpCodeName(8, 1), "未知代码");
  EXPECT_EQ(IcmpCodeName(200, 7), "");

  std::vector<std::uint8_t> echo = Icmp(8, 0, "payload!");
  echo[24] = 0x12, echo[25] = 0x34, echo[27] = 9;
  auto layers = DescribeDatagram(echo);
  EXPECT_EQ(Value(layers, "ICMP 报文", "标识"), "4660");
  EXPECT_EQ(Value(layers, "ICMP 报文", "序号"), "9");
  EXPECT_EQ(Value(layers, "数据", "长度"), "8 字节");

  std::vector<std::uint8_t> timestamp = Icmp(14, 0, std::string(12, '\0'));
  timestamp[31] = 100, timestamp[35] = 200, timestamp[39] = 44;
  layers = DescribeDatagram(timestamp);
  EXPECT_EQ(Value(layers, "ICMP 报文", "原始时间戳"), "100 毫秒");
  EXPECT_EQ(Value(layers, "ICMP 报文", "传送时间戳"), "44 毫秒");
  EXPECT_EQ(Value(layers, "数据", "长度"), "0 字节");
  EXPECT_EQ(Value(DescribeDatagram(Icmp(14, 0, "abc")), "ICMP 报文", "传送时间戳"), kMissingValue);

  // An error quotes the start of the datagram it is about.
  std::vector<std::uint8_t> quoted = Datagram{.protocol = kProtocolUDP, .source = "10.0.0.2",
                                              .destination = "203.0.113.9", .sourcePort = 40000,
                                              .destinationPort = 33434, .payload = "probe"}.Bytes();
  quoted.resize(28);
  std::vector<std::uint8_t> needFrag = Icmp(3, 4, std::string(quoted.begin(), quoted.end()));
  needFrag[26] = 0x05, needFrag[27] = 0xDC;
  layers = DescribeDatagram(needFrag);
  EXPECT_EQ(Value(layers, "ICMP 报文", "代码"), "4（需要分片但设置了不分片）");
  EXPECT_EQ(Value(layers, "ICMP 报文", "下一跳 MTU"), "1500");
  EXPECT_EQ(Titles(layers), (std::vector<std::string>{"IPv4 首部", "ICMP 报文", "原始数据报 · IPv4 首部",
                                                      "原始数据报 · UDP 首部", "原始数据报 · 数据"}));
  EXPECT_EQ(Value(layers, "原始数据报 · IPv4 首部", "目的地址"), "203.0.113.9");
  EXPECT_EQ(Value(layers, "原始数据报 · UDP 首部", "目的端口"), "33434");
  EXPECT_EQ(Value(layers, "原始数据报 · 数据", "长度"), "5 字节（只收到 0 字节，其余缺失）");

  const auto cut = Describe(Icmp(8, 0), 22);
  EXPECT_EQ(Value(cut, "ICMP 报文", "代码"), "0");
  EXPECT_EQ(Value(cut, "ICMP 报文", "校验和"), kMissingValue);
  EXPECT_EQ(Value(cut, "ICMP 报文", "序号"), kMissingValue);
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
