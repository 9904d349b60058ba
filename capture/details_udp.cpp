// The UDP header.
#include "capture/details_protocols.h"

namespace orvanel::details {
namespace {

constexpr std::size_t kUdpHeader = 8;

}  // namespace

Described DescribeUdp(const ByteReader& segment, std::size_t declared) {
  LayerBuilder layer(DetailLayerId::Udp, segment);
  layer.Field(DetailFieldId::SourcePort, 0, 2);
  layer.Field(DetailFieldId::DestinationPort, 2, 2);
  DetailField& length = layer.Field(DetailFieldId::UdpLength, 4, 2);
  if (length.finding != Finding::Missing && length.value < kUdpHeader) {
    length.finding = Finding::BelowMinimum;
    length.numbers = {kUdpHeader, 0};
  } else if (length.finding != Finding::Missing && length.value != declared) {
    length.finding = Finding::DisagreesWithIp;
    length.numbers = {declared, 0};
  }
  layer.Field(DetailFieldId::UdpChecksum, 6, 2);
  return {layer.Take(), segment.Has(0, kUdpHeader) ? kUdpHeader : 0};
}

}  // namespace orvanel::details
