// The ICMP message.
#include "capture/details_protocols.h"

namespace orvanel::details {
namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kPaddedQuote = 128;

}  // namespace

bool IsIcmpError(std::uint8_t type) { return type == 3 || type == 4 || type == 5 || type == 11 || type == 12; }

namespace {

// The errors RFC 4884 gives a length octet: destination unreachable, time
// exceeded and parameter problem.
bool HasQuotedLength(const ByteReader& message) {
  if (!message.Has(0, 1)) return false;
  const std::uint32_t type = message.Value(0, 1);
  return type == 3 || type == 11 || type == 12;
}

}  // namespace

std::size_t IcmpQuotedLength(const ByteReader& message) {
  if (!HasQuotedLength(message) || !message.Has(5, 1)) return 0;
  const std::size_t length = std::size_t{message.Value(5, 1)} * 4;
  // With an extension structure the quoted datagram is padded to 128 bytes
  // at least; a shorter length is an older sender's unused byte.
  return length >= kPaddedQuote && kIcmpHeader + length < message.size() ? length : 0;
}

Described DescribeIcmp(const ByteReader& segment) {
  LayerBuilder layer(DetailLayerId::Icmp, segment);
  layer.Field(DetailFieldId::IcmpType, 0, 1);
  layer.Field(DetailFieldId::IcmpCode, 1, 1);
  layer.Field(DetailFieldId::Checksum, 2, 2);
  if (!segment.Has(0, 1)) return {layer.Take(), 0};
  if (IcmpQuotedLength(segment) != 0) layer.Field(DetailFieldId::QuotedLength, 5, 1);
  const auto type = static_cast<std::uint8_t>(segment.Value(0, 1));
  std::size_t headerLength = kIcmpHeader;
  switch (type) {
    case 0:
    case 8:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
      layer.Field(DetailFieldId::IcmpIdentifier, 4, 2);
      layer.Field(DetailFieldId::SequenceNumber, 6, 2);
      if (type == 13 || type == 14) {
        layer.Field(DetailFieldId::OriginateTimestamp, 8, 4);
        layer.Field(DetailFieldId::ReceiveTimestamp, 12, 4);
        layer.Field(DetailFieldId::TransmitTimestamp, 16, 4);
        headerLength = 20;
      }
      if (type == 17 || type == 18) {
        layer.Address(DetailFieldId::AddressMask, 8);
        headerLength = 12;
      }
      break;
    case 3:
      if (segment.Has(1, 1) && segment.Value(1, 1) == 4) layer.Field(DetailFieldId::NextHopMtu, 6, 2);
      break;
    case 5: layer.Address(DetailFieldId::GatewayAddress, 4); break;
    case 9:
      layer.Field(DetailFieldId::AddressCount, 4, 1);
      layer.Field(DetailFieldId::AddressEntrySize, 5, 1);
      layer.Field(DetailFieldId::Lifetime, 6, 2);
      break;
    case 12: layer.Field(DetailFieldId::ParameterPointer, 4, 1); break;
    case 4:
    case 10:
    case 11: break;
    default: layer.Field(DetailFieldId::RestOfHeader, 4, 4); break;
  }
  return {layer.Take(), segment.Has(0, headerLength) ? headerLength : 0};
}

}  // namespace orvanel::details
