// The IPv4 header, its options included.
#include "capture/details_protocols.h"
#include "capture/internet_checksum.h"

namespace orvanel::details {

DetailLayer DescribeIpv4(const ByteReader& bytes, Payload& payload) {
  LayerBuilder layer(DetailLayerId::Ipv4, bytes);
  DetailField& version = layer.Field(DetailFieldId::Version, 0, 1);
  version.value >>= 4;
  if (bytes.Has(0, 1) && version.value != 4) version.finding = Finding::NotFour;
  const std::size_t headerLength = bytes.Has(0, 1) ? (bytes.Value(0, 1) & 0x0F) * 4u : 0;
  const bool lengthValid = headerLength >= kMinimumHeader;
  AddHeaderLength(layer, DetailFieldId::HeaderLength, bytes.Has(0, 1), headerLength, bytes.size());
  layer.Field(DetailFieldId::TypeOfService, 1, 1);
  std::size_t totalLength = bytes.size();
  bool totalValid = false;
  if (!bytes.Has(2, 2)) {
    layer.Missing(DetailFieldId::TotalLength);
  } else {
    totalLength = bytes.Value(2, 2);
    totalValid = totalLength >= headerLength;
    DetailFinding finding;
    if (!totalValid) {
      finding = {Finding::BelowHeaderLength};
    } else if (totalLength > bytes.size()) {
      finding = {Finding::Truncated, {bytes.size(), totalLength - bytes.size()}};
    } else if (totalLength < bytes.size()) {
      finding = {Finding::Trailing, {bytes.size() - totalLength, 0}};
    }
    layer.Add(DetailFieldId::TotalLength, std::uint32_t(totalLength), finding);
  }
  layer.Field(DetailFieldId::Identification, 4, 2);
  DetailField& flags = layer.Field(DetailFieldId::IpFlags, 6, 1);
  flags.value >>= 5;
  if (flags.value & 4) flags.finding = Finding::ReservedBitSet;  // it must be zero
  layer.Field(DetailFieldId::FragmentOffset, 6, 2).value &= 0x1FFF;
  layer.Field(DetailFieldId::TimeToLive, 8, 1);
  layer.Field(DetailFieldId::Protocol, 9, 1);
  DetailField& checksum = layer.Field(DetailFieldId::HeaderChecksum, 10, 2);
  if (bytes.Has(10, 2) && lengthValid && headerLength <= bytes.size()) {
    MarkChecksum(checksum, OnesComplementSum(bytes.Range(0, headerLength)));
  }
  layer.Address(DetailFieldId::SourceAddress, 12);
  layer.Address(DetailFieldId::DestinationAddress, 16);
  if (lengthValid) AddOptions(layer, bytes, kMinimumHeader, headerLength);

  if (lengthValid && bytes.Has(0, 10)) {
    payload.located = true;
    const std::size_t end = totalValid ? totalLength : bytes.size();
    payload.bytes = bytes.Range(headerLength, end);
    payload.declared = end > headerLength ? end - headerLength : 0;
    payload.protocol = static_cast<std::uint8_t>(bytes.Value(9, 1));
    payload.addresses = bytes.Range(12, 20);
    payload.fragmentOffset = bytes.Value(6, 2) & 0x1FFF;
  }
  return layer.Take();
}

}  // namespace orvanel::details
