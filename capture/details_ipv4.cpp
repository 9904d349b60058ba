// The IPv4 header, its options included.
#include "capture/details_protocols.h"
#include "capture/protocol.h"

namespace orvanel::details {
namespace {

constexpr OptionKind kIpOptions[] = {
    {0, "选项表结束"}, {1, "无操作"},   {7, "记录路由"},     {68, "时间戳"}, {82, "路由跟踪"},   {130, "安全"},
    {131, "宽松源路由"}, {133, "扩展安全"}, {136, "流标识"}, {137, "严格源路由"}, {148, "路由器告警"},
};

std::string IpOptionText(std::uint8_t kind, std::span<const std::uint8_t> data) {
  const ByteReader bytes(data);
  const bool route = kind == 7 || kind == 131 || kind == 137;
  if (route && !data.empty()) {
    std::vector<std::string> addresses;
    for (std::size_t at = 1; bytes.Has(at, 4); at += 4) addresses.push_back(bytes.AddressAt(at));
    return "指针 " + Decimal(data[0]) + (addresses.empty() ? "" : "，地址 " + Joined(addresses, ", "));
  }
  if (kind == 148 && data.size() == 2) return "值 " + Decimal(bytes.Value(0, 2));
  return HexBytes(data);
}

// The one's-complement sum of a header with a right checksum is 0xFFFF.
bool ChecksumHolds(std::span<const std::uint8_t> header) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at + 1 < header.size(); at += 2) sum += ReadBigEndian16(header, at);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum == 0xFFFF;
}

}  // namespace

std::string ProtocolName(std::uint32_t protocol) {
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

}  // namespace orvanel::details
