// The TCP header, its options included.
#include "capture/details_protocols.h"
#include "capture/internet_checksum.h"
#include "capture/protocol.h"

namespace orvanel::details {

Described DescribeTcp(const ByteReader& segment, const Payload& payload) {
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
  DetailField& checksum = layer.Field(DetailFieldId::Checksum, 16, 2);
  // Over a pseudo-header of the addresses, the protocol and the segment's length.
  if (segment.Has(16, 2) && segment.size() == payload.declared && payload.addresses.size() == 8 &&
      payload.declared <= 0xFFFF) {
    const std::uint32_t pseudo = OnesComplementSum(payload.addresses, kProtocolTCP + std::uint32_t(payload.declared));
    MarkChecksum(checksum, OnesComplementSum(payload.bytes, pseudo));
  }
  layer.Field(DetailFieldId::UrgentPointer, 18, 2);
  if (lengthValid) AddOptions(layer, segment, kMinimumHeader, headerLength);
  return {layer.Take(), lengthValid && headerLength <= segment.size() ? headerLength : 0};
}

}  // namespace orvanel::details
