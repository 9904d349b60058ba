#include "session/link_layer.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <iterator>

#include "capture/big_endian.h"

namespace orvanel {
namespace {

constexpr std::uint16_t kEtherTypeIPv4 = 0x0800;
constexpr std::uint16_t kVlanTags[] = {0x8100, 0x88a8, 0x9100};  // 802.1Q, 802.1ad, old QinQ
constexpr std::uint32_t kFamilyInet = 2;                         // AF_INET on every BSD and Linux
constexpr std::uint16_t kPppIPv4 = 0x0021;
constexpr std::uint8_t kHdlcAllStations = 0xff, kHdlcUnnumbered = 0x03;
constexpr std::uint8_t kCiscoUnicast = 0x0f, kCiscoBroadcast = 0x8f;

// Drops the bytes past the total-length field (link padding). A field that
// cannot be right (shorter than a header, or longer than the bytes) keeps all.
std::span<const std::uint8_t> WithoutPadding(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < 4) return datagram;
  const std::uint16_t totalLength = ReadBigEndian16(datagram, 2);
  return totalLength >= 20 && totalLength < datagram.size() ? datagram.first(totalLength) : datagram;
}

// The datagram after an EtherType at offset, stepping over VLAN tags.
std::optional<std::span<const std::uint8_t>> AfterEtherType(std::span<const std::uint8_t> frame, std::size_t offset) {
  while (offset + 2 <= frame.size()) {
    const std::uint16_t type = ReadBigEndian16(frame, offset);
    if (type == kEtherTypeIPv4) return WithoutPadding(frame.subspan(offset + 2));
    if (std::ranges::find(kVlanTags, type) == std::end(kVlanTags)) return std::nullopt;
    offset += 4;  // tag control information, then the next EtherType
  }
  return std::nullopt;
}

// RFC 1661 PPP: the protocol field, one byte when it is odd (compressed).
std::optional<std::span<const std::uint8_t>> AfterPppProtocol(std::span<const std::uint8_t> frame) {
  if (frame.empty()) return std::nullopt;
  const std::size_t length = frame[0] & 1 ? 1 : 2;
  if (frame.size() < length) return std::nullopt;
  const std::uint16_t protocol = length == 1 ? frame[0] : ReadBigEndian16(frame, 0);
  if (protocol != kPppIPv4) return std::nullopt;
  return WithoutPadding(frame.subspan(length));
}

// PPP whose address and control bytes may have been left off.
std::optional<std::span<const std::uint8_t>> AfterPpp(std::span<const std::uint8_t> frame) {
  const bool hdlcFramed = frame.size() >= 2 && frame[0] == kHdlcAllStations && frame[1] == kHdlcUnnumbered;
  return AfterPppProtocol(hdlcFramed ? frame.subspan(2) : frame);
}

// Cisco HDLC: address (unicast or broadcast), control, then an EtherType.
std::optional<std::span<const std::uint8_t>> AfterCiscoHdlc(std::span<const std::uint8_t> frame) {
  if (frame.size() < 2 || (frame[0] != kCiscoUnicast && frame[0] != kCiscoBroadcast)) return std::nullopt;
  return AfterEtherType(frame, 2);
}

// BSD/OS SLIP: direction, then the packet type in the high nibble of a
// 15-byte header area; only plain IP is whole (compressed TCP needs state).
std::optional<std::span<const std::uint8_t>> AfterSlip(std::span<const std::uint8_t> frame) {
  constexpr std::size_t kHeaderLength = 16;
  constexpr std::uint8_t kTypeIP = 0x40;
  if (frame.size() <= kHeaderLength || (frame[1] & 0xf0) != kTypeIP || frame[kHeaderLength] >> 4 != 4) {
    return std::nullopt;
  }
  return WithoutPadding(frame.subspan(kHeaderLength));
}

std::uint32_t Read32Le(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

// An 802.11 data frame: its MAC header (headerPadded: rounded up to four
// bytes), then LLC/SNAP with an EtherType. Encrypted frames, frames without
// a body, aggregates and fragments carry no whole datagram.
std::optional<std::span<const std::uint8_t>> AfterWifi(std::span<const std::uint8_t> frame, bool headerPadded) {
  constexpr std::size_t kBaseHeader = 24;
  if (frame.size() < kBaseHeader) return std::nullopt;
  const std::uint8_t type = frame[0] >> 2 & 3, subtype = frame[0] >> 4, flags = frame[1];
  constexpr std::uint8_t kData = 2, kNoBody = 0x4, kQos = 0x8;
  constexpr std::uint8_t kToDs = 0x01, kFromDs = 0x02, kMoreFragments = 0x04, kProtected = 0x40, kOrder = 0x80;
  const bool fragment = flags & kMoreFragments || (frame[22] & 0x0f) != 0;  // or a fragment number
  if (type != kData || subtype & kNoBody || flags & kProtected || fragment) return std::nullopt;
  std::size_t header = kBaseHeader;
  if ((flags & (kToDs | kFromDs)) == (kToDs | kFromDs)) header += 6;  // a fourth address
  if (subtype & kQos) {
    if (frame.size() < header + 2 || frame[header] & 0x80) return std::nullopt;  // A-MSDU
    header += 2;
    if (flags & kOrder) header += 4;  // HT control
  }
  if (headerPadded) header = (header + 3) / 4 * 4;
  // LLC/SNAP whose organisation code says an EtherType follows (RFC 1042, 802.1H)
  constexpr std::uint8_t kRfc1042[] = {0xaa, 0xaa, 0x03, 0x00, 0x00, 0x00};
  constexpr std::uint8_t kBridgeTunnel[] = {0xaa, 0xaa, 0x03, 0x00, 0x00, 0xf8};
  if (frame.size() < header + 8) return std::nullopt;
  const std::span<const std::uint8_t> llc = frame.subspan(header);
  if (!std::ranges::equal(llc.first(6), kRfc1042) && !std::ranges::equal(llc.first(6), kBridgeTunnel)) {
    return std::nullopt;
  }
  return AfterEtherType(llc, 6);
}

// Radiotap: a header of its own length, then the 802.11 frame. Of its
// fields only the flags matter (is the 802.11 header padded?); only the
// 8-byte, 8-aligned TSFT can come before them.
std::optional<std::span<const std::uint8_t>> AfterRadiotap(std::span<const std::uint8_t> frame) {
  if (frame.size() < 8 || frame[0] != 0) return std::nullopt;
  const std::size_t length = frame[2] | frame[3] << 8;
  if (length < 8 || length > frame.size()) return std::nullopt;
  const std::uint32_t present = Read32Le(frame, 4);
  std::size_t offset = 8;
  for (std::uint32_t word = present; word & 0x80000000u; offset += 4) {  // more presence words follow
    if (offset + 4 > length) return std::nullopt;
    word = Read32Le(frame, offset);
  }
  std::uint8_t flags = 0;
  constexpr std::uint32_t kTsft = 1u << 0, kFlags = 1u << 1;
  if (present & kFlags) {
    if (present & kTsft) offset = (offset + 7) / 8 * 8 + 8;
    if (offset >= length) return std::nullopt;
    flags = frame[offset];
  }
  constexpr std::uint8_t kDataPad = 0x20;
  return AfterWifi(frame.subspan(length), flags & kDataPad);
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
    case DLT_PPP:
    case DLT_PPP_SERIAL:
    case DLT_C_HDLC:
    case DLT_SLIP:
    case DLT_IEEE802_11:
    case DLT_IEEE802_11_RADIO: return true;
    default: return false;
  }
}

std::optional<std::span<const std::uint8_t>> DatagramOf(int linkType, std::span<const std::uint8_t> frame) {
  switch (linkType) {
    case DLT_EN10MB: return AfterEtherType(frame, 12);  // after the two MAC addresses
    case DLT_LINUX_SLL: return AfterEtherType(frame, 14);
    case DLT_LINUX_SLL2:  // the protocol type leads the 20-byte header
      if (frame.size() < 20 || ReadBigEndian16(frame, 0) != kEtherTypeIPv4) return std::nullopt;
      return WithoutPadding(frame.subspan(20));
    case DLT_NULL: return AfterFamily(frame, true);
    case DLT_LOOP: return AfterFamily(frame, false);
    case DLT_RAW:  // IPv4 or IPv6: the version nibble tells
      if (frame.empty() || frame[0] >> 4 != 4) return std::nullopt;
      return WithoutPadding(frame);
    case DLT_IPV4: return WithoutPadding(frame);
    case DLT_PPP: return AfterPpp(frame);
    case DLT_PPP_SERIAL:  // PPP in HDLC framing, or Cisco's PPP with HDLC framing
      return !frame.empty() && frame[0] == kHdlcAllStations ? AfterPpp(frame) : AfterCiscoHdlc(frame);
    case DLT_C_HDLC: return AfterCiscoHdlc(frame);
    case DLT_SLIP: return AfterSlip(frame);
    case DLT_IEEE802_11: return AfterWifi(frame, false);
    case DLT_IEEE802_11_RADIO: return AfterRadiotap(frame);
    default: return std::nullopt;
  }
}

}  // namespace orvanel
