// One describer per header: IPv4, then TCP, UDP or ICMP. Each gives its
// layer and where what it carries begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "capture/details_builder.h"

namespace orvanel::details {

// What the IPv4 header says of the bytes after it.
struct Payload {
  bool located = false;                 // the header length is known and valid
  std::span<const std::uint8_t> bytes;  // received, up to the total length
  std::size_t declared = 0;             // as the total length gives it
  std::uint8_t protocol = 0;
  std::uint32_t fragmentOffset = 0;
  std::span<const std::uint8_t> addresses;  // source and destination, for a pseudo-header
};

DetailLayer DescribeIpv4(const ByteReader& bytes, Payload& payload);

// A transport header's layer and where its data begins: 0 when the header
// is incomplete or broken.
struct Described {
  DetailLayer layer;
  std::size_t dataOffset = 0;
};

// The checksum is checked when the whole segment was received.
Described DescribeTcp(const ByteReader& segment, const Payload& payload);
// declared: the IP payload's length as the IPv4 header gives it.
Described DescribeUdp(const ByteReader& segment, std::size_t declared);
Described DescribeIcmp(const ByteReader& segment);

// Error messages quote the datagram that caused them.
bool IsIcmpError(std::uint8_t type);
// How many bytes of an error message's data the quoted datagram takes when
// RFC 4884's length says (an extension structure follows them); else 0.
std::size_t IcmpQuotedLength(const ByteReader& message);
DetailLayer DescribeIcmpExtension(const ByteReader& extension);

}  // namespace orvanel::details
