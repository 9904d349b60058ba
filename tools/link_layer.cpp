#include "tools/link_layer.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <iterator>

namespace orvanel::cli {
namespace {

constexpr std::uint16_t kEtherTypeIPv4 = 0x0800;
constexpr std::uint16_t kVlanTags[] = {0x8100, 0x88a8, 0x9100};  // 802.1Q, 802.1ad, old QinQ
constexpr std::uint32_t kFamilyInet = 2;  // AF_INET on every BSD and Linux

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

// Drops the bytes past the total-length field (link padding). A field that
// cannot be right (shorter than a header, or longer than the bytes) keeps all.
std::span<const std::uint8_t> WithoutPadding(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < 4) return datagram;
  const std::uint16_t totalLength = Read16(datagram, 2);
  return totalLength >= 20 && totalLength < datagram.size() ? datagram.first(totalLength) : datagram;
}

// The datagram after an EtherType at offset, stepping over VLAN tags.
std::optional<std::span<const std::uint8_t>> AfterEtherType(std::span<const std::uint8_t> frame, std::size_t offset) {
  while (offset + 2 <= frame.size()) {
    const std::uint16_t type = Read16(frame, offset);
    if (type == kEtherTypeIPv4) return WithoutPadding(frame.subspan(offset + 2));
    if (std::ranges::find(kVlanTags, type) == std::end(kVlanTags)) return std::nullopt;
    offset += 4;  // tag control information, then the next EtherType
  }
  return std::nullopt;
}

// After a 4-byte address family: network order for loop, and for null the
// order of the machine that captured.
std::optional<std::span<const std::uint8_t>> AfterFamily(std::span<const std::uint8_t> frame, bool eitherOrder) {
  if (frame.size() < 4) return std::nullopt;
  const bool bigEndian = frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == kFamilyInet;
  const bool littleEndian = frame[0] == kFamilyInet && frame[1] == 0 && frame[2] == 0 && frame[3] == 0;
  if (bigEndian || (eitherOrder && littleEndian)) return WithoutPadding(frame.subspan(4));
  return std::nullopt;
}

}  // namespace

bool IsSupportedLinkType(int linkType) {
  switch (linkType) {
    case DLT_EN10MB:
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2:
    case DLT_NULL:
    case DLT_LOOP:
    case DLT_RAW:
    case DLT_IPV4:
      return true;
    default:
      return false;
  }
}

std::optional<std::span<const std::uint8_t>> DatagramOf(int linkType, std::span<const std::uint8_t> frame) {
  switch (linkType) {
    case DLT_EN10MB: return AfterEtherType(frame, 12);  // after the two MAC addresses
    case DLT_LINUX_SLL: return AfterEtherType(frame, 14);
    case DLT_LINUX_SLL2:  // the protocol type leads the 20-byte header
      if (frame.size() < 20 || Read16(frame, 0) != kEtherTypeIPv4) return std::nullopt;
      return WithoutPadding(frame.subspan(20));
    case DLT_NULL: return AfterFamily(frame, true);
    case DLT_LOOP: return AfterFamily(frame, false);
    case DLT_RAW:  // IPv4 or IPv6: the version nibble tells
      if (frame.empty() || frame[0] >> 4 != 4) return std::nullopt;
      return WithoutPadding(frame);
    case DLT_IPV4: return WithoutPadding(frame);
    default: return std::nullopt;
  }
}

}  // namespace orvanel::cli
