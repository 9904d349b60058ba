// The TCP header, its options included.
#include "capture/details_protocols.h"

namespace orvanel::details {
namespace {

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

}  // namespace

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

}  // namespace orvanel::details
