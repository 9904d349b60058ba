#include "capture/datagram_details.h"

#include <cstdio>

#include "capture/details_protocols.h"
#include "capture/protocol.h"

namespace orvanel {
namespace {

using namespace details;

// Before an extension structure the quoted datagram is padded with zeros (to
// 128 bytes at least): the padding is no part of it.
std::span<const std::uint8_t> QuotedWithoutPadding(std::span<const std::uint8_t> quoted) {
  if (quoted.size() < 4) return quoted;
  const std::size_t totalLength = ReadBigEndian16(quoted, 2);
  return totalLength < quoted.size() ? quoted.first(totalLength) : quoted;
}

// inIcmpError: the datagram is the one an ICMP error message quotes.
std::vector<DetailLayer> Describe(std::span<const std::uint8_t> datagram, bool inIcmpError) {
  const ByteReader bytes(datagram);
  Payload payload;
  std::vector<DetailLayer> layers;
  layers.push_back(DescribeIpv4(bytes, payload));
  if (!payload.located) {
    if (bytes.Has(0, 10)) {
      layers.push_back({DetailLayerId::Unlocated, false, 0, {Noted(Finding::HeaderLengthInvalid)}});
    }
    return layers;
  }
  if (payload.fragmentOffset != 0) {
    layers.push_back(DataLayer(DetailLayerId::Fragment, payload.bytes.size(), payload.declared));
    layers.back().fields.insert(layers.back().fields.begin(), Noted(Finding::NoTransportHeader, payload.protocol));
    return layers;
  }
  const ByteReader segment(payload.bytes);
  Described transport;
  switch (payload.protocol) {
    case kProtocolTCP: transport = DescribeTcp(segment, payload); break;
    case kProtocolUDP: transport = DescribeUdp(segment, payload.declared); break;
    case kProtocolICMP: transport = DescribeIcmp(segment); break;
    default:
      layers.push_back(DataLayer(DetailLayerId::Payload, payload.bytes.size(), payload.declared));
      layers.back().protocol = payload.protocol;
      return layers;
  }
  layers.push_back(std::move(transport.layer));
  if (transport.dataOffset == 0) return layers;
  const std::span<const std::uint8_t> data = payload.bytes.subspan(transport.dataOffset);
  const std::size_t declared = payload.declared > transport.dataOffset ? payload.declared - transport.dataOffset : 0;
  if (payload.protocol == kProtocolICMP && IsIcmpError(payload.bytes[0]) && !inIcmpError && !data.empty()) {
    const std::size_t quotedLength = IcmpQuotedLength(segment);
    for (DetailLayer& quoted : Describe(quotedLength ? QuotedWithoutPadding(data.first(quotedLength)) : data, true)) {
      quoted.quoted = true;
      layers.push_back(std::move(quoted));
    }
    if (quotedLength) layers.push_back(DescribeIcmpExtension(ByteReader(data.subspan(quotedLength))));
    return layers;
  }
  layers.push_back(DataLayer(DetailLayerId::Data, data.size(), declared));
  return layers;
}

}  // namespace

std::vector<DetailLayer> DescribeDatagram(std::span<const std::uint8_t> datagram) { return Describe(datagram, false); }

std::string HexDump(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kLine = 16;
  const int offsetDigits = bytes.size() > 0x10000 ? 8 : 4;
  std::string dump;
  for (std::size_t line = 0; line < bytes.size(); line += kLine) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*zx ", offsetDigits, line);
    dump += text;
    std::string printable;
    for (std::size_t i = 0; i < kLine; ++i) {
      if (i % 8 == 0) dump += ' ';
      if (line + i < bytes.size()) {
        const std::uint8_t byte = bytes[line + i];
        std::snprintf(text, sizeof text, "%02x ", byte);
        dump += text;
        printable += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
      } else {
        dump += "   ";
      }
    }
    dump += ' ' + printable + '\n';
  }
  return dump;
}

}  // namespace orvanel
