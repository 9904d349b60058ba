#include "ui/details_texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "capture/address_text.h"
#include "capture/big_endian.h"
#include "capture/protocol.h"

namespace orvanel {
namespace {

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string ByteCount(std::size_t count) { return Decimal(count) + " 字节"; }

std::string Joined(const std::vector<std::string>& texts, const char* separator) {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : separator) + text;
  return joined;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::vector<std::string> texts;
  for (const std::uint8_t byte : bytes) texts.push_back(Hex(byte, 2).substr(2));
  return Joined(texts, " ");
}

std::string Address(std::uint32_t networkOrder) { return std::string(AddressText(networkOrder).View()); }

std::string AddressAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::uint32_t address;
  std::memcpy(&address, bytes.data() + offset, sizeof address);
  return Address(address);
}

// The IPv4 header's name of a protocol number.
std::string ProtocolName(std::size_t protocol) {
  switch (protocol) {
    case kProtocolICMP: return "ICMP";
    case 2: return "IGMP";
    case 4: return "IPv4 封装";
    case kProtocolTCP: return "TCP";
    case kProtocolUDP: return "UDP";
    case 41: return "IPv6 封装";
    case 47: return "GRE";
    case 50: return "ESP";
    case 51: return "AH";
    case 89: return "OSPF";
    case 103: return "PIM";
    case 112: return "VRRP";
    case 132: return "SCTP";
    default: return "未知协议";
  }
}

const char* KnownIcmpType(std::uint8_t type) {
  switch (type) {
    case 0: return "回显应答";
    case 3: return "目标不可达";
    case 4: return "源点抑制";
    case 5: return "重定向";
    case 8: return "回显请求";
    case 9: return "路由器通告";
    case 10: return "路由器询问";
    case 11: return "超时";
    case 12: return "参数问题";
    case 13: return "时间戳请求";
    case 14: return "时间戳应答";
    case 15: return "信息请求";
    case 16: return "信息应答";
    case 17: return "地址掩码请求";
    case 18: return "地址掩码应答";
    default: return nullptr;
  }
}

// Named bits of a flags field, in the order given, or "无".
struct NamedBit {
  std::uint32_t bit;
  const char* name;
};

std::string FlagsText(std::uint32_t value, int digits, std::span<const NamedBit> bits) {
  std::vector<std::string> names;
  for (const NamedBit& named : bits) {
    if (value & named.bit) names.push_back(named.name);
  }
  return Hex(value, digits) + "（" + (names.empty() ? std::string("无") : Joined(names, "，")) + "）";
}

struct OptionKind {
  std::uint8_t kind;
  const char* name;
};

constexpr OptionKind kIpOptions[] = {
    {0, "选项表结束"},   {1, "无操作"},     {7, "记录路由"}, {68, "时间戳"},      {82, "路由跟踪"},    {130, "安全"},
    {131, "宽松源路由"}, {133, "扩展安全"}, {136, "流标识"}, {137, "严格源路由"}, {148, "路由器告警"},
};

constexpr OptionKind kTcpOptions[] = {
    {0, "选项表结束"},   {1, "无操作"},      {2, "最大报文段长度"}, {3, "窗口扩大"},
    {4, "允许选择确认"}, {5, "选择确认"},    {8, "时间戳"},         {28, "用户超时"},
    {29, "TCP 认证"},    {30, "多路径 TCP"}, {34, "快速打开"},
};

std::string IpOptionText(std::uint8_t kind, std::span<const std::uint8_t> data) {
  const bool route = kind == 7 || kind == 131 || kind == 137;
  if (route && !data.empty()) {
    std::vector<std::string> addresses;
    for (std::size_t at = 1; at + 4 <= data.size(); at += 4) addresses.push_back(AddressAt(data, at));
    return "指针 " + Decimal(data[0]) + (addresses.empty() ? "" : "，地址 " + Joined(addresses, ", "));
  }
  if (kind == 148 && data.size() == 2) return "值 " + Decimal(ReadBigEndian16(data, 0));
  return HexBytes(data);
}

std::string TcpOptionText(std::uint8_t kind, std::span<const std::uint8_t> data) {
  if (kind == 2 && data.size() == 2) return Decimal(ReadBigEndian16(data, 0));
  if (kind == 3 && data.size() == 1) return "移位 " + Decimal(data[0]);
  if (kind == 8 && data.size() == 8) {
    return "TSval " + Decimal(ReadBigEndian(data, 0, 4)) + "，TSecr " + Decimal(ReadBigEndian(data, 4, 4));
  }
  if (kind == 5 && !data.empty() && data.size() % 8 == 0) {
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < data.size(); at += 8) {
      blocks.push_back(Decimal(ReadBigEndian(data, at, 4)) + "-" + Decimal(ReadBigEndian(data, at + 4, 4)));
    }
    return Joined(blocks, ", ");
  }
  return HexBytes(data);
}

// What a finding adds to its field's value.
std::string FindingText(const DetailFinding& found) {
  const auto [first, second] = found.numbers;
  switch (found.finding) {
    case Finding::NotFour: return "（不是 4）";
    case Finding::NotTwo: return "（不是 2）";
    case Finding::BelowMinimum: return "（小于 " + Decimal(first) + "，无效）";
    case Finding::BeyondReceived: return "（只收到 " + ByteCount(first) + "）";
    case Finding::BelowHeaderLength: return "（小于首部长度）";
    case Finding::Truncated:
      return "（只收到 " + ByteCount(first) + "，" + Decimal(second) + " 字节" + kMissingValue + "）";
    case Finding::MissingBytes: return "（" + Decimal(first) + " 字节" + kMissingValue + "）";
    case Finding::Trailing: return "（其后多收到 " + ByteCount(first) + "）";
    case Finding::ChecksumRight: return "（正确）";
    case Finding::ChecksumWrong: return "（错误，应为 " + Hex(std::uint32_t(first), 4) + "）";
    case Finding::DisagreesWithIp: return "（IP 载荷为 " + ByteCount(first) + "）";
    case Finding::RestMissing: return "（只收到 " + ByteCount(first) + "，其余" + kMissingValue + "）";
    case Finding::HeaderLengthInvalid: return "首部长度无效，其后的内容无法定位";
    case Finding::NoTransportHeader: return "片偏移不为 0，不含 " + ProtocolName(first) + " 首部";
    default: return "";
  }
}

const char* Label(DetailFieldId id) {
  switch (id) {
    case DetailFieldId::Version: return "版本";
    case DetailFieldId::HeaderLength: return "首部长度";
    case DetailFieldId::TypeOfService: return "服务类型";
    case DetailFieldId::TotalLength: return "总长度";
    case DetailFieldId::Identification: return "标识";
    case DetailFieldId::IpFlags: return "标志";
    case DetailFieldId::FragmentOffset: return "片偏移";
    case DetailFieldId::TimeToLive: return "生存时间";
    case DetailFieldId::Protocol: return "协议";
    case DetailFieldId::HeaderChecksum: return "首部校验和";
    case DetailFieldId::SourceAddress: return "源地址";
    case DetailFieldId::DestinationAddress: return "目的地址";
    case DetailFieldId::Options: return "选项";
    case DetailFieldId::SourcePort: return "源端口";
    case DetailFieldId::DestinationPort: return "目的端口";
    case DetailFieldId::SequenceNumber: return "序号";
    case DetailFieldId::AcknowledgementNumber: return "确认号";
    case DetailFieldId::DataOffset: return "数据偏移";
    case DetailFieldId::TcpFlags: return "标志";
    case DetailFieldId::Window: return "窗口";
    case DetailFieldId::Checksum: return "校验和";
    case DetailFieldId::UrgentPointer: return "紧急指针";
    case DetailFieldId::UdpLength: return "长度";
    case DetailFieldId::UdpChecksum: return "校验和";
    case DetailFieldId::IcmpType: return "类型";
    case DetailFieldId::IcmpCode: return "代码";
    case DetailFieldId::IcmpIdentifier: return "标识";
    case DetailFieldId::OriginateTimestamp: return "原始时间戳";
    case DetailFieldId::ReceiveTimestamp: return "接收时间戳";
    case DetailFieldId::TransmitTimestamp: return "传送时间戳";
    case DetailFieldId::AddressMask: return "地址掩码";
    case DetailFieldId::NextHopMtu: return "下一跳 MTU";
    case DetailFieldId::GatewayAddress: return "网关地址";
    case DetailFieldId::AddressCount: return "地址数";
    case DetailFieldId::AddressEntrySize: return "地址项长度";
    case DetailFieldId::Lifetime: return "生存期";
    case DetailFieldId::ParameterPointer: return "指针";
    case DetailFieldId::QuotedLength: return "原始数据报长度";
    case DetailFieldId::RestOfHeader: return "首部其余部分";
    case DetailFieldId::ExtensionVersion: return "版本";
    case DetailFieldId::ExtensionChecksum: return "校验和";
    case DetailFieldId::ExtensionObjects: return "对象";
    case DetailFieldId::Note: return "说明";
    case DetailFieldId::DataLength: return "长度";
  }
  return "";
}

std::string Title(const DetailLayer& layer) {
  const char* title = "";
  switch (layer.id) {
    case DetailLayerId::Ipv4: title = "IPv4 首部"; break;
    case DetailLayerId::Tcp: title = "TCP 首部"; break;
    case DetailLayerId::Udp: title = "UDP 首部"; break;
    case DetailLayerId::Icmp: title = "ICMP 报文"; break;
    case DetailLayerId::Unlocated: title = "载荷"; break;
    case DetailLayerId::Fragment: title = "分片数据"; break;
    case DetailLayerId::Payload: title = "载荷"; break;
    case DetailLayerId::Data: title = "数据"; break;
    case DetailLayerId::IcmpExtension: title = "ICMP 扩展结构"; break;
  }
  std::string text = layer.quoted ? std::string("原始数据报 · ") + title : title;
  if (layer.id == DetailLayerId::Payload) text += "（" + ProtocolName(layer.protocol) + "）";
  return text;
}

// The value before its finding's words; type is the ICMP type a code belongs to.
std::string ValueText(DetailFieldId id, std::uint32_t value, std::uint8_t type) {
  static constexpr NamedBit kIpFlags[] = {{4, "保留位"}, {2, "DF 不分片"}, {1, "MF 更多分片"}};
  static constexpr NamedBit kTcpFlags[] = {{0x02, "SYN"}, {0x10, "ACK"}, {0x01, "FIN"}, {0x04, "RST"},
                                           {0x08, "PSH"}, {0x20, "URG"}, {0x40, "ECE"}, {0x80, "CWR"}};
  switch (id) {
    case DetailFieldId::HeaderLength:
    case DetailFieldId::TotalLength:
    case DetailFieldId::Options:
    case DetailFieldId::DataOffset:
    case DetailFieldId::UdpLength:
    case DetailFieldId::DataLength:
    case DetailFieldId::ExtensionObjects: return ByteCount(value);
    case DetailFieldId::QuotedLength: return ByteCount(value * 4);
    case DetailFieldId::TypeOfService:
      return Hex(value, 2) + "（DSCP " + Decimal(value >> 2) + "，ECN " + Decimal(value & 3) + "）";
    case DetailFieldId::Identification: return Hex(value, 4) + "（" + Decimal(value) + "）";
    case DetailFieldId::IpFlags: return FlagsText(value, 1, kIpFlags);
    case DetailFieldId::TcpFlags: return FlagsText(value, 2, kTcpFlags);
    case DetailFieldId::FragmentOffset: return Decimal(value) + (value ? "（" + ByteCount(value * 8) + "）" : "");
    case DetailFieldId::Protocol: return Decimal(value) + "（" + ProtocolName(value) + "）";
    case DetailFieldId::HeaderChecksum:
    case DetailFieldId::Checksum:
    case DetailFieldId::ExtensionChecksum: return Hex(value, 4);
    case DetailFieldId::UdpChecksum: return Hex(value, 4) + (value == 0 ? "（未使用）" : "");
    case DetailFieldId::RestOfHeader: return Hex(value, 8);
    case DetailFieldId::SourceAddress:
    case DetailFieldId::DestinationAddress:
    case DetailFieldId::AddressMask:
    case DetailFieldId::GatewayAddress: return Address(value);
    case DetailFieldId::IcmpType: return Decimal(value) + "（" + IcmpTypeName(static_cast<std::uint8_t>(value)) + "）";
    case DetailFieldId::IcmpCode: {
      const std::string name = IcmpCodeName(type, static_cast<std::uint8_t>(value));
      return Decimal(value) + (name.empty() ? "" : "（" + name + "）");
    }
    case DetailFieldId::OriginateTimestamp:
    case DetailFieldId::ReceiveTimestamp:
    case DetailFieldId::TransmitTimestamp: return Decimal(value) + " 毫秒";
    case DetailFieldId::Lifetime: return Decimal(value) + " 秒";
    case DetailFieldId::Note: return "";
    default: return Decimal(value);
  }
}

// An object of an ICMP extension structure: its class and c-type, and an MPLS
// label stack's entries one by one.
FieldText ExtensionObjectText(const DetailOption& object) {
  const bool mpls = object.kind == 1;
  std::string value = "类 " + Decimal(object.kind);
  if (object.finding == Finding::LengthMissing) value += "，长度" + std::string(kMissingValue);
  if (object.length) value += "，长度 " + ByteCount(*object.length) + FindingText(object);
  if (!object.Fault() && !object.data.empty()) {
    const std::uint8_t type = object.data[0];
    value += "，类型 " + Decimal(type);
    const std::span<const std::uint8_t> contents = std::span(object.data).subspan(1);
    std::vector<std::string> entries;
    if (mpls && type == 1 && contents.size() % 4 == 0) {
      for (std::size_t at = 0; at < contents.size(); at += 4) {
        const std::uint32_t entry = ReadBigEndian(contents, at, 4);
        entries.push_back("标签 " + Decimal(entry >> 12) + "，TC " + Decimal(entry >> 9 & 7) + "，S " +
                          Decimal(entry >> 8 & 1) + "，TTL " + Decimal(entry & 0xFF));
      }
    } else if (!contents.empty()) {
      entries.push_back(HexBytes(contents));
    }
    if (!entries.empty()) value += "：" + Joined(entries, "；");
  }
  return {mpls ? "MPLS 标签栈" : "未知对象", value, object.Fault(), {}};
}

FieldText OptionText(DetailLayerId layer, const DetailOption& option) {
  if (layer == DetailLayerId::IcmpExtension) return ExtensionObjectText(option);
  const std::span<const OptionKind> kinds =
      layer == DetailLayerId::Ipv4 ? std::span<const OptionKind>(kIpOptions) : std::span<const OptionKind>(kTcpOptions);
  const auto known =
      std::find_if(kinds.begin(), kinds.end(), [&](const OptionKind& k) { return k.kind == option.kind; });
  std::string value = "类型 " + Decimal(option.kind);
  if (option.finding == Finding::LengthMissing) value += "，长度" + std::string(kMissingValue);
  if (option.length) {
    value += "，长度 " + Decimal(*option.length) + FindingText(option);
    const std::string data =
        layer == DetailLayerId::Ipv4 ? IpOptionText(option.kind, option.data) : TcpOptionText(option.kind, option.data);
    if (!option.Fault() && !data.empty()) value += "：" + data;
  }
  return {known != kinds.end() ? known->name : "未知选项", value, option.Fault(), {}};
}

}  // namespace

std::string IcmpTypeName(std::uint8_t type) {
  const char* name = KnownIcmpType(type);
  return name ? name : "未知类型";
}

std::string IcmpCodeName(std::uint8_t type, std::uint8_t code) {
  static constexpr const char* kUnreachable[] = {
      "网络不可达",
      "主机不可达",
      "协议不可达",
      "端口不可达",
      "需要分片但设置了不分片",
      "源路由失败",
      "目的网络未知",
      "目的主机未知",
      "源主机被隔离",
      "目的网络被禁止",
      "目的主机被禁止",
      "对此服务类型网络不可达",
      "对此服务类型主机不可达",
      "通信被管理禁止",
      "违反主机优先级",
      "优先级被截止",
  };
  static constexpr const char* kRedirect[] = {"对网络重定向", "对主机重定向", "对服务类型和网络重定向",
                                              "对服务类型和主机重定向"};
  static constexpr const char* kTimeExceeded[] = {"传输中生存时间为 0", "分片重组超时"};
  static constexpr const char* kParameterProblem[] = {"指针指示错误", "缺少必需的选项", "长度错误"};
  const auto named = [code](std::span<const char* const> names) -> std::string {
    return code < names.size() ? names[code] : "未知代码";
  };
  switch (type) {
    case 3: return named(kUnreachable);
    case 5: return named(kRedirect);
    case 11: return named(kTimeExceeded);
    case 12: return named(kParameterProblem);
    case 9: return code == 0 ? "普通路由器通告" : code == 16 ? "不转发普通流量" : "未知代码";
    default:
      // Other known types have only code 0; of an unknown type nothing is known.
      return code == 0 || !KnownIcmpType(type) ? "" : "未知代码";
  }
}

std::vector<LayerText> DetailTexts(const std::vector<DetailLayer>& layers) {
  std::vector<LayerText> texts;
  for (const DetailLayer& layer : layers) {
    LayerText& text = texts.emplace_back();
    text.title = Title(layer);
    std::uint8_t icmpType = 0;
    for (const DetailField& field : layer.fields) {
      if (field.id == DetailFieldId::IcmpType) icmpType = static_cast<std::uint8_t>(field.value);
      const std::string value = field.finding == Finding::Missing
                                    ? std::string(kMissingValue)
                                    : ValueText(field.id, field.value, icmpType) + FindingText(field);
      FieldText& shown = text.fields.emplace_back(FieldText{Label(field.id), value, field.Fault(), {}});
      for (const DetailOption& option : field.options) shown.parts.push_back(OptionText(layer.id, option));
    }
  }
  return texts;
}

}  // namespace orvanel
