// The UDP header.
#include "capture/details_protocols.h"

namespace orvanel::details {
namespace {

constexpr std::size_t kUdpHeader = 8;

}  // namespace

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

}  // namespace orvanel::details
