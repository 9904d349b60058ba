#include "datagram_details.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "big_endian.h"

namespace orvanel {
namespace {

constexpr std::size_t kMinimumHeader = 20;  // of IPv4 and of TCP
constexpr std::size_t kUdpHeader = 8;
constexpr std::size_t kIcmpHeader = 8;

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string ByteCount(std::size_t count) { return Decimal(count) + " 字节"; }

std::string Dotted(std::uint32_t value) {
  return Decimal(value >> 24) + "." + Decimal(value >> 16 & 0xFF) + "." + Decimal(value >> 8 & 0xFF) + "." +
         Decimal(value & 0xFF);
}

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

// The bytes of one header or segment; reads never leave them.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t size() const { return bytes_.size(); }
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  // The big-endian value of count (at most 4) bytes; only after Has(offset, count).
  std::uint32_t Value(std::size_t offset, std::size_t count) const { return ReadBigEndian(bytes_, offset, count); }
  // The bytes from offset up to end, as far as there are any.
  std::span<const std::uint8_t> Range(std::size_t offset, std::size_t end) const {
    end = std::min(end, bytes_.size());
    offset = std::min(offset, end);
    return bytes_.subspan(offset, end - offset);
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

using ValueText = std::function<std::string(std::uint32_t)>;

// Adds the fields of one layer; a field whose bytes were not received says so.
class LayerBuilder {
 public:
  LayerBuilder(std::string title, const ByteReader& bytes) : bytes_(bytes) { layer_.title = std::move(title); }

  DetailField& Field(std::string label, std::size_t offset, std::size_t count, const ValueText& text) {
    if (!bytes_.Has(offset, count)) return Add(std::move(label), kMissingValue, true);
    return Add(std::move(label), text(bytes_.Value(offset, count)));
  }
  DetailField& Number(std::string label, std::size_t offset, std::size_t count) {
    return Field(std::move(label), offset, count, [](std::uint32_t value) { return Decimal(value); });
  }
  DetailField& HexNumber(std::string label, std::size_t offset, std::size_t count) {
    return Field(std::move(label), offset, count, [count](std::uint32_t value) { return Hex(value, int(count * 2)); });
  }
  DetailField& Address(std::string label, std::size_t offset) { return Field(std::move(label), offset, 4, Dotted); }
  DetailField& Add(std::string label, std::string value, bool fault = false) {
    layer_.fields.push_back({std::move(label), std::move(value), fault, {}});
    return layer_.fields.back();
  }
  DetailLayer Take() { return std::move(layer_); }

 private:
  const ByteReader& bytes_;
  DetailLayer layer_;
};

// IPv4 and TCP options share one form: kinds 0 (end of list) and 1 (no-op)
// are one byte; the others give their length, kind and length bytes included.
struct OptionKind {
  std::uint8_t kind;
  const char* name;
};

using OptionText = std::string (*)(std::uint8_t kind, std::span<const std::uint8_t> data);

std::vector<DetailField> ListOptions(std::span<const std::uint8_t> bytes, std::span<const OptionKind> kinds,
                                     OptionText text) {
  const auto name = [kinds](std::uint8_t kind) -> std::string {
    const auto known = std::find_if(kinds.begin(), kinds.end(), [kind](const OptionKind& k) { return k.kind == kind; });
    return known != kinds.end() ? known->name : "未知选项";
  };
  std::vector<DetailField> options;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::uint8_t kind = bytes[at];
    const std::string value = "类型 " + Decimal(kind);
    if (kind == 0 || kind == 1) {
      options.push_back({name(kind), value, false, {}});
      ++at;
      if (kind == 0) break;  // the rest is padding
      continue;
    }
    if (at + 1 == bytes.size()) {
      options.push_back({name(kind), value + "，长度" + kMissingValue, true, {}});
      break;
    }
    const std::size_t length = bytes[at + 1];
    const std::string withLength = value + "，长度 " + Decimal(length);
    if (length < 2) {
      options.push_back({name(kind), withLength + "（小于 2，无效）", true, {}});
      break;
    }
    if (length > bytes.size() - at) {
      const std::size_t missing = length - (bytes.size() - at);
      options.push_back({name(kind), withLength + "（" + Decimal(missing) + " 字节" + kMissingValue + "）", true, {}});
      break;
    }
    const std::string data = text(kind, bytes.subspan(at + 2, length - 2));
    options.push_back({name(kind), withLength + (data.empty() ? "" : "：" + data), false, {}});
    at += length;
  }
  return options;
}

// The "选项" field: the options between begin and end of the header, as far as received.
void AddOptions(LayerBuilder& layer, const ByteReader& header, std::size_t begin, std::size_t end,
                std::span<const OptionKind> kinds, OptionText text) {
  if (end <= begin) return;
  const std::span<const std::uint8_t> received = header.Range(begin, end);
  const std::size_t missing = end - begin - received.size();
  DetailField& options = layer.Add(
      "选项", ByteCount(end - begin) + (missing ? "（" + Decimal(missing) + " 字节" + kMissingValue + "）" : ""),
      missing > 0);
  options.parts = ListOptions(received, kinds, text);
}

constexpr OptionKind kIpOptions[] = {
    {0, "选项表结束"}, {1, "无操作"},   {7, "记录路由"},     {68, "时间戳"}, {82, "路由跟踪"},   {130, "安全"},
    {131, "宽松源路由"}, {133, "扩展安全"}, {136, "流标识"}, {137, "严格源路由"}, {148, "路由器告警"},
};

std::string IpOptionText(std::uint8_t kind, std::span<const std::uint8_t> data) {
  const ByteReader bytes(data);
  const bool route = kind == 7 || kind == 131 || kind == 137;
  if (route && !data.empty()) {
    std::vector<std::string> addresses;
    for (std::size_t at = 1; bytes.Has(at, 4); at += 4) addresses.push_back(Dotted(bytes.Value(at, 4)));
    return "指针 " + Decimal(data[0]) + (addresses.empty() ? "" : "，地址 " + Joined(addresses, ", "));
  }
  if (kind == 148 && data.size() == 2) return "值 " + Decimal(bytes.Value(0, 2));
  return HexBytes(data);
}

constexpr OptionKind kTcpOptions[] = {
    {0, "选项表结束"},     {1, "无操作"},        {2, "最大报文段长度"}, {3, "窗口扩大"},
    {4, "允许选择确认"},   {5, "选择确认"},      {8, "时间戳"},         {28, "用户超时"},
    {29, "TCP 认证"},      {30, "多路径 TCP"},   {34, "快速打开"},
};

std::string TcpOptionText(std::uint8_t kind, std::span<const std::uint8_t> data) {
  const ByteReader bytes(data);
  if (kind == 2 && data.size() == 2) return Decimal(bytes.Value(0, 2));
  if (kind == 3 && data.size() == 1) return "移位 " + Decimal(data[0]);
  if (kind == 8 && data.size() == 8) {
    return "TSval " + Decimal(bytes.Value(0, 4)) + "，TSecr " + Decimal(bytes.Value(4, 4));
  }
  if (kind == 5 && !data.empty() && data.size() % 8 == 0) {
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < data.size(); at += 8) {
      blocks.push_back(Decimal(bytes.Value(at, 4)) + "-" + Decimal(bytes.Value(at + 4, 4)));
    }
    return Joined(blocks, ", ");
  }
  return HexBytes(data);
}

std::string ProtocolName(std::uint32_t protocol) {
  switch (protocol) {
    case 1: return "ICMP";
    case 2: return "IGMP";
    case 4: return "IPv4 封装";
    case 6: return "TCP";
    case 17: return "UDP";
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

// The one's-complement sum of a header with a right checksum is 0xFFFF.
bool ChecksumHolds(std::span<const std::uint8_t> header) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at + 1 < header.size(); at += 2) sum += ReadBigEndian16(header, at);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum == 0xFFFF;
}

// A header length field of IPv4 or TCP: valid from 20 bytes, and the header
// may run past the bytes received.
void AddHeaderLength(LayerBuilder& layer, std::string label, bool present, std::size_t length, std::size_t received) {
  if (!present) {
    layer.Add(std::move(label), kMissingValue, true);
  } else if (length < kMinimumHeader) {
    layer.Add(std::move(label), ByteCount(length) + "（小于 20，无效）", true);
  } else if (length > received) {
    layer.Add(std::move(label), ByteCount(length) + "（只收到 " + ByteCount(received) + "）", true);
  } else {
    layer.Add(std::move(label), ByteCount(length));
  }
}

// What the IPv4 header says of the bytes after it.
struct Payload {
  bool located = false;                 // the header length is known and valid
  std::span<const std::uint8_t> bytes;  // received, up to the total length
  std::size_t declared = 0;             // as the total length gives it
  std::uint8_t protocol = 0;
  std::uint32_t fragmentOffset = 0;
};

DetailLayer DescribeIpv4(const ByteReader& bytes, Payload& payload) {
  LayerBuilder layer("IPv4 首部", bytes);
  layer.Field("版本", 0, 1, [](std::uint32_t byte) {
    return Decimal(byte >> 4) + (byte >> 4 == 4 ? "" : "（不是 4）");
  }).fault |= bytes.Has(0, 1) && bytes.Value(0, 1) >> 4 != 4;
  const std::size_t headerLength = bytes.Has(0, 1) ? (bytes.Value(0, 1) & 0x0F) * 4u : 0;
  const bool lengthValid = headerLength >= kMinimumHeader;
  AddHeaderLength(layer, "首部长度", bytes.Has(0, 1), headerLength, bytes.size());
  layer.Field("服务类型", 1, 1, [](std::uint32_t tos) {
    return Hex(tos, 2) + "（DSCP " + Decimal(tos >> 2) + "，ECN " + Decimal(tos & 3) + "）";
  });
  std::size_t totalLength = bytes.size();
  bool totalValid = false;
  if (!bytes.Has(2, 2)) {
    layer.Add("总长度", kMissingValue, true);
  } else {
    totalLength = bytes.Value(2, 2);
    totalValid = totalLength >= headerLength;
    std::string text = ByteCount(totalLength);
    if (!totalValid) {
      text += "（小于首部长度）";
    } else if (totalLength > bytes.size()) {
      const std::size_t missing = totalLength - bytes.size();
      text += "（只收到 " + ByteCount(bytes.size()) + "，" + Decimal(missing) + " 字节" + kMissingValue + "）";
    } else if (totalLength < bytes.size()) {
      text += "（其后多收到 " + ByteCount(bytes.size() - totalLength) + "）";
    }
    layer.Add("总长度", text, !totalValid || totalLength != bytes.size());
  }
  layer.Field("标识", 4, 2, [](std::uint32_t id) { return Hex(id, 4) + "（" + Decimal(id) + "）"; });
  static constexpr NamedBit kIpFlags[] = {{4, "保留位"}, {2, "DF 不分片"}, {1, "MF 更多分片"}};
  layer.Field("标志", 6, 1, [](std::uint32_t byte) { return FlagsText(byte >> 5, 1, kIpFlags); }).fault |=
      bytes.Has(6, 1) && bytes.Value(6, 1) & 0x80;  // the reserved bit must be zero
  layer.Field("片偏移", 6, 2, [](std::uint32_t field) {
    const std::uint32_t offset = field & 0x1FFF;
    return Decimal(offset) + (offset ? "（" + ByteCount(offset * 8) + "）" : "");
  });
  layer.Number("生存时间", 8, 1);
  layer.Field("协议", 9, 1,
              [](std::uint32_t protocol) { return Decimal(protocol) + "（" + ProtocolName(protocol) + "）"; });
  const bool wholeHeader = lengthValid && headerLength <= bytes.size();
  const bool checksumWrong = wholeHeader && !ChecksumHolds(bytes.Range(0, headerLength));
  layer.Field("首部校验和", 10, 2, [&](std::uint32_t checksum) {
    return Hex(checksum, 4) + (!wholeHeader ? "" : checksumWrong ? "（错误）" : "（正确）");
  }).fault |= checksumWrong;
  layer.Address("源地址", 12);
  layer.Address("目的地址", 16);
  if (lengthValid) AddOptions(layer, bytes, kMinimumHeader, headerLength, kIpOptions, IpOptionText);

  if (lengthValid && bytes.Has(0, 10)) {
    payload.located = true;
    const std::size_t end = totalValid ? totalLength : bytes.size();
    payload.bytes = bytes.Range(headerLength, end);
    payload.declared = end > headerLength ? end - headerLength : 0;
    payload.protocol = static_cast<std::uint8_t>(bytes.Value(9, 1));
    payload.fragmentOffset = bytes.Value(6, 2) & 0x1FFF;
  }
  return layer.Take();
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

// A transport header's layer and where its data begins: 0 when the header
// is incomplete or broken.
struct Described {
  DetailLayer layer;
  std::size_t dataOffset = 0;
};

Described DescribeTcp(const ByteReader& segment) {
  LayerBuilder layer("TCP 首部", segment);
  layer.Number("源端口", 0, 2);
  layer.Number("目的端口", 2, 2);
  layer.Number("序号", 4, 4);
  layer.Number("确认号", 8, 4);
  const std::size_t headerLength = segment.Has(12, 1) ? (segment.Value(12, 1) >> 4) * 4u : 0;
  const bool lengthValid = headerLength >= kMinimumHeader;
  AddHeaderLength(layer, "数据偏移", segment.Has(12, 1), headerLength, segment.size());
  static constexpr NamedBit kTcpFlags[] = {{0x02, "SYN"}, {0x10, "ACK"}, {0x01, "FIN"}, {0x04, "RST"},
                                           {0x08, "PSH"}, {0x20, "URG"}, {0x40, "ECE"}, {0x80, "CWR"}};
  layer.Field("标志", 13, 1, [](std::uint32_t flags) { return FlagsText(flags, 2, kTcpFlags); });
  layer.Number("窗口", 14, 2);
  layer.HexNumber("校验和", 16, 2);
  layer.Number("紧急指针", 18, 2);
  if (lengthValid) AddOptions(layer, segment, kMinimumHeader, headerLength, kTcpOptions, TcpOptionText);
  return {layer.Take(), lengthValid && headerLength <= segment.size() ? headerLength : 0};
}

Described DescribeUdp(const ByteReader& segment, std::size_t declared) {
  LayerBuilder layer("UDP 首部", segment);
  layer.Number("源端口", 0, 2);
  layer.Number("目的端口", 2, 2);
  if (!segment.Has(4, 2)) {
    layer.Add("长度", kMissingValue, true);
  } else {
    const std::size_t length = segment.Value(4, 2);
    if (length < kUdpHeader) {
      layer.Add("长度", ByteCount(length) + "（小于 8，无效）", true);
    } else if (length != declared) {
      layer.Add("长度", ByteCount(length) + "（IP 载荷为 " + ByteCount(declared) + "）", true);
    } else {
      layer.Add("长度", ByteCount(length));
    }
  }
  layer.Field("校验和", 6, 2, [](std::uint32_t sum) { return Hex(sum, 4) + (sum == 0 ? "（未使用）" : ""); });
  return {layer.Take(), segment.Has(0, kUdpHeader) ? kUdpHeader : 0};
}

bool IsIcmpError(std::uint8_t type) { return type == 3 || type == 4 || type == 5 || type == 11 || type == 12; }

Described DescribeIcmp(const ByteReader& segment) {
  LayerBuilder layer("ICMP 报文", segment);
  layer.Field("类型", 0, 1, [](std::uint32_t type) { return Decimal(type) + "（" + IcmpTypeName(type) + "）"; });
  const std::uint8_t type = segment.Has(0, 1) ? static_cast<std::uint8_t>(segment.Value(0, 1)) : 0;
  layer.Field("代码", 1, 1, [type](std::uint32_t code) {
    const std::string name = IcmpCodeName(type, static_cast<std::uint8_t>(code));
    return Decimal(code) + (name.empty() ? "" : "（" + name + "）");
  });
  layer.HexNumber("校验和", 2, 2);
  if (!segment.Has(0, 1)) return {layer.Take(), 0};
  std::size_t headerLength = kIcmpHeader;
  const auto milliseconds = [](std::uint32_t value) { return Decimal(value) + " 毫秒"; };
  switch (type) {
    case 0: case 8: case 13: case 14: case 15: case 16: case 17: case 18:
      layer.Number("标识", 4, 2);
      layer.Number("序号", 6, 2);
      if (type == 13 || type == 14) {
        layer.Field("原始时间戳", 8, 4, milliseconds);
        layer.Field("接收时间戳", 12, 4, milliseconds);
        layer.Field("传送时间戳", 16, 4, milliseconds);
        headerLength = 20;
      }
      if (type == 17 || type == 18) {
        layer.Address("地址掩码", 8);
        headerLength = 12;
      }
      break;
    case 3:
      if (segment.Has(1, 1) && segment.Value(1, 1) == 4) layer.Number("下一跳 MTU", 6, 2);
      break;
    case 5: layer.Address("网关地址", 4); break;
    case 9:
      layer.Number("地址数", 4, 1);
      layer.Number("地址项长度", 5, 1);
      layer.Field("生存期", 6, 2, [](std::uint32_t seconds) { return Decimal(seconds) + " 秒"; });
      break;
    case 12: layer.Number("指针", 4, 1); break;
    case 4: case 10: case 11: break;
    default: layer.HexNumber("首部其余部分", 4, 4); break;
  }
  return {layer.Take(), segment.Has(0, headerLength) ? headerLength : 0};
}

// The bytes after the headers: as many as declared, of which some may be missing.
DetailLayer DataLayer(std::string title, std::size_t received, std::size_t declared) {
  DetailLayer layer{std::move(title), {}};
  if (received < declared) {
    layer.fields.push_back({"长度", ByteCount(declared) + "（只收到 " + ByteCount(received) + "，其余" + kMissingValue + "）",
                            true, {}});
  } else {
    layer.fields.push_back({"长度", ByteCount(received), false, {}});
  }
  return layer;
}

// inIcmpError: the datagram is the one an ICMP error message quotes.
std::vector<DetailLayer> Describe(std::span<const std::uint8_t> datagram, bool inIcmpError) {
  const ByteReader bytes(datagram);
  Payload payload;
  std::vector<DetailLayer> layers;
  layers.push_back(DescribeIpv4(bytes, payload));
  if (!payload.located) {
    if (bytes.Has(0, 10)) layers.push_back({"载荷", {{"说明", "首部长度无效，其后的内容无法定位", true, {}}}});
    return layers;
  }
  const std::string protocol = ProtocolName(payload.protocol);
  if (payload.fragmentOffset != 0) {
    layers.push_back(DataLayer("分片数据", payload.bytes.size(), payload.declared));
    layers.back().fields.insert(layers.back().fields.begin(),
                                {"说明", "片偏移不为 0，不含 " + protocol + " 首部", false, {}});
    return layers;
  }
  const ByteReader segment(payload.bytes);
  Described transport;
  switch (payload.protocol) {
    case 6: transport = DescribeTcp(segment); break;
    case 17: transport = DescribeUdp(segment, payload.declared); break;
    case 1: transport = DescribeIcmp(segment); break;
    default:
      layers.push_back(DataLayer("载荷（" + protocol + "）", payload.bytes.size(), payload.declared));
      return layers;
  }
  layers.push_back(std::move(transport.layer));
  if (transport.dataOffset == 0) return layers;
  const std::span<const std::uint8_t> data = payload.bytes.subspan(transport.dataOffset);
  const std::size_t declared = payload.declared > transport.dataOffset ? payload.declared - transport.dataOffset : 0;
  if (payload.protocol == 1 && IsIcmpError(payload.bytes[0]) && !inIcmpError && !data.empty()) {
    for (DetailLayer& quoted : Describe(data, true)) {
      quoted.title = "原始数据报 · " + quoted.title;
      layers.push_back(std::move(quoted));
    }
    return layers;
  }
  layers.push_back(DataLayer("数据", data.size(), declared));
  return layers;
}

}  // namespace

std::vector<DetailLayer> DescribeDatagram(std::span<const std::uint8_t> datagram) { return Describe(datagram, false); }

std::string HexDump(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kLine = 16;
  const int offsetDigits = bytes.size() > 0x10000 ? 8 : 4;
  std::string dump;
  for (std::size_t line = 0; line < bytes.size(); line += kLine) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*zx ", offsetDigits, line);
    dump += text;
    std::string printable;
    for (std::size_t i = 0; i < kLine; ++i) {
      if (i % 8 == 0) dump += ' ';
      if (line + i < bytes.size()) {
        const std::uint8_t byte = bytes[line + i];
        std::snprintf(text, sizeof text, "%02x ", byte);
        dump += text;
        printable += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
      } else {
        dump += "   ";
      }
    }
    dump += ' ' + printable + '\n';
  }
  return dump;
}

std::string IcmpTypeName(std::uint8_t type) {
  const char* name = KnownIcmpType(type);
  return name ? name : "未知类型";
}

std::string IcmpCodeName(std::uint8_t type, std::uint8_t code) {
  static constexpr const char* kUnreachable[] = {
      "网络不可达",       "主机不可达",       "协议不可达",         "端口不可达",
      "需要分片但设置了不分片", "源路由失败", "目的网络未知",       "目的主机未知",
      "源主机被隔离",     "目的网络被禁止",   "目的主机被禁止",     "对此服务类型网络不可达",
      "对此服务类型主机不可达", "通信被管理禁止", "违反主机优先级",   "优先级被截止",
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

}  // namespace orvanel
