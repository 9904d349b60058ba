// The TCP header, its options included.
#include "capture/details_protocols.h"

namespace orvanel::details {

Described DescribeTcp(const ByteReader& segment) {
  LayerBuilder layer(DetailLayerId::Tcp, segment);
  layer.Field(DetailFieldId::SourcePort, 0, 2);
  layer.Field(DetailFieldId::DestinationPort, 2, 2);
  layer.Field(DetailFieldId::SequenceNumber, 4, 4);
  layer.Field(DetailFieldId::AcknowledgementNumber, 8, 4);
  const std::size_t headerLength = segment.Has(12, 1) ? (segment.Value(12, 1) >> 4) * 4u : 0;
  const bool lengthValid = headerLength >= kMinimumHeader;
  AddHeaderLength(layer, DetailFieldId::DataOffset, segment.Has(12, 1), headerLength, segment.size());
  layer.Field(DetailFieldId::TcpFlags, 13, 1);
  layer.Field(DetailFieldId::Window, 14, 2);
  layer.Field(DetailFieldId::Checksum, 16, 2);
  layer.Field(DetailFieldId::UrgentPointer, 18, 2);
  if (lengthValid) AddOptions(layer, segment, kMinimumHeader, headerLength);
  return {layer.Take(), lengthValid && headerLength <= segment.size() ? headerLength : 0};
}

}  // namespace orvanel::details
