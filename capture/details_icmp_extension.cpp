// RFC 4884's ICMP extension structure: a header (version 2, a checksum over
// the structure), then objects of a length, a class and a c-type each. RFC
// 4950's MPLS label stack is class 1, c-type 1.
#include "capture/details_protocols.h"
#include "capture/internet_checksum.h"

namespace orvanel::details {
namespace {

constexpr std::size_t kExtensionHeader = 4;
constexpr std::size_t kObjectHeader = 4;

std::vector<DetailOption> ListObjects(std::span<const std::uint8_t> bytes) {
  std::vector<DetailOption> objects;
  std::size_t at = 0;
  while (at < bytes.size()) {
    DetailOption& object = objects.emplace_back();
    if (bytes.size() - at < kObjectHeader) {
      object.finding = Finding::LengthMissing;
      break;
    }
    const std::size_t length = ReadBigEndian16(bytes, at);
    object.kind = bytes[at + 2];
    object.length = static_cast<std::uint16_t>(length);
    if (length < kObjectHeader) {
      object.finding = Finding::BelowMinimum;
      object.numbers = {kObjectHeader, 0};
      break;
    }
    if (length > bytes.size() - at) {
      object.finding = Finding::MissingBytes;
      object.numbers = {length - (bytes.size() - at), 0};
      break;
    }
    const std::span<const std::uint8_t> data = bytes.subspan(at + 3, length - 3);
    object.data.assign(data.begin(), data.end());
    at += length;
  }
  return objects;
}

}  // namespace

DetailLayer DescribeIcmpExtension(const ByteReader& extension) {
  LayerBuilder layer(DetailLayerId::IcmpExtension, extension);
  DetailField& version = layer.Field(DetailFieldId::ExtensionVersion, 0, 1);
  version.value >>= 4;
  if (extension.Has(0, 1) && version.value != 2) version.finding = Finding::NotTwo;
  DetailField& checksum = layer.Field(DetailFieldId::ExtensionChecksum, 2, 2);
  if (extension.Has(2, 2)) MarkChecksum(checksum, OnesComplementSum(extension.Range(0, extension.size())));
  if (extension.Has(0, kExtensionHeader)) {
    const std::span<const std::uint8_t> objects = extension.Range(kExtensionHeader, extension.size());
    DetailField& field = layer.Add(DetailFieldId::ExtensionObjects, static_cast<std::uint32_t>(objects.size()));
    field.options = ListObjects(objects);
  }
  return layer.Take();
}

}  // namespace orvanel::details
