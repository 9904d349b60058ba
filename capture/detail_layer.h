// What the details decoder gives: a datagram's layers, their fields by id
// and number, and what it found in each. The window puts them into words.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvanel {

enum class DetailLayerId : std::uint8_t {
  Ipv4,
  Tcp,
  Udp,
  Icmp,
  Unlocated,      // what follows an IPv4 header of an invalid length
  Fragment,       // the data of a fragment with a non-zero offset
  Payload,        // what a protocol not decoded further carries
  Data,           // what follows the transport header
  IcmpExtension,  // RFC 4884's extension structure after the datagram an error quotes
};

enum class DetailFieldId : std::uint8_t {
  // IPv4
  Version,
  HeaderLength,
  TypeOfService,
  TotalLength,
  Identification,
  IpFlags,
  FragmentOffset,
  TimeToLive,
  Protocol,
  HeaderChecksum,
  SourceAddress,
  DestinationAddress,
  Options,  // of IPv4 or TCP: value the length; the options one each
  // TCP and UDP
  SourcePort,
  DestinationPort,
  SequenceNumber,  // of TCP and of ICMP queries
  AcknowledgementNumber,
  DataOffset,
  TcpFlags,
  Window,
  Checksum,  // of TCP and ICMP
  UrgentPointer,
  UdpLength,
  UdpChecksum,
  // ICMP
  IcmpType,
  IcmpCode,
  IcmpIdentifier,
  OriginateTimestamp,
  ReceiveTimestamp,
  TransmitTimestamp,
  AddressMask,
  NextHopMtu,
  GatewayAddress,
  AddressCount,
  AddressEntrySize,
  Lifetime,
  ParameterPointer,
  QuotedLength,  // RFC 4884: the quoted datagram's length, in 32-bit words
  RestOfHeader,
  // The ICMP extension structure
  ExtensionVersion,
  ExtensionChecksum,
  ExtensionObjects,  // value the length; the objects one each, as options are
  // The layers after the headers
  Note,        // no value: the finding says it all
  DataLength,  // bytes: as declared when fewer were received
};

// What the decoder found in a field beyond its value. The numbers it names
// are in the field's numbers, in the order given here.
enum class Finding : std::uint8_t {
  None,
  Missing,            // the field's bytes were not received
  NotFour,            // the version
  NotTwo,             // the extension structure's version
  BelowMinimum,       // the smallest valid value
  BeyondReceived,     // a header longer than the bytes: those received
  BelowHeaderLength,  // a total length shorter than the header
  Truncated,          // bytes received, bytes missing
  MissingBytes,       // bytes missing
  Trailing,           // bytes received past the total length
  ReservedBitSet,
  ChecksumRight,
  ChecksumWrong,        // the value it should hold
  DisagreesWithIp,      // the IP payload's length
  RestMissing,          // of the data as declared: the bytes received
  LengthMissing,        // of an option
  HeaderLengthInvalid,  // nothing after the header can be located
  NoTransportHeader,    // a later fragment: its protocol
};

// Everything but no finding, a right checksum and a later fragment's note.
constexpr bool IsFault(Finding finding) {
  return finding != Finding::None && finding != Finding::ChecksumRight && finding != Finding::NoTransportHeader;
}

struct DetailFinding {
  Finding finding = Finding::None;
  std::array<std::size_t, 2> numbers{};

  [[nodiscard]] bool Fault() const { return IsFault(finding); }
};

// One IPv4 or TCP option as far as it was received; or an object of an ICMP
// extension structure: kind its class, length its length, data its c-type and contents.
struct DetailOption : DetailFinding {
  std::uint8_t kind = 0;
  std::optional<std::uint16_t> length;  // none for the one-byte kinds, or when not received
  std::vector<std::uint8_t> data;       // after the kind and length bytes, when all are there
};

// Addresses are in network order, as AddressText takes them.
struct DetailField : DetailFinding {
  DetailFieldId id{};
  std::uint32_t value = 0;
  std::vector<DetailOption> options;
};

struct DetailLayer {
  DetailLayerId id{};
  bool quoted = false;        // within the datagram an ICMP error quotes
  std::uint8_t protocol = 0;  // of a Payload layer
  std::vector<DetailField> fields;
};

}  // namespace orvanel
