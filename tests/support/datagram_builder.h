// IPv4 datagrams built from their fields, for tests that feed the core or
// write capture files.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/protocol.h"

namespace orvanel::test {

// An IPv4 datagram laid out as a sender would, with real header lengths.
struct Datagram {
  std::uint8_t protocol = kProtocolUDP;
  std::string source = "10.0.0.1";
  std::string destination = "10.0.0.2";
  std::uint16_t sourcePort = 1234;
  std::uint16_t destinationPort = 80;
  std::vector<std::uint8_t> ipOptions{};   // multiple of 4 bytes
  std::vector<std::uint8_t> tcpOptions{};  // multiple of 4 bytes
  std::string payload{};
  int totalLengthField = -1;  // -1: the real length
  std::uint16_t identification = 0;
  std::uint16_t fragmentField = 0;  // flags and offset

  [[nodiscard]] std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> bytes(20, 0);
    bytes[0] = static_cast<std::uint8_t>(0x40 | (20 + ipOptions.size()) / 4);
    bytes[4] = static_cast<std::uint8_t>(identification >> 8);
    bytes[5] = static_cast<std::uint8_t>(identification);
    bytes[6] = static_cast<std::uint8_t>(fragmentField >> 8);
    bytes[7] = static_cast<std::uint8_t>(fragmentField);
    bytes[8] = 64;
    bytes[9] = protocol;
    inet_pton(AF_INET, source.c_str(), bytes.data() + 12);
    inet_pton(AF_INET, destination.c_str(), bytes.data() + 16);
    bytes.insert(bytes.end(), ipOptions.begin(), ipOptions.end());
    if (protocol == kProtocolTCP || protocol == kProtocolUDP) {
      std::uint8_t ports[4] = {std::uint8_t(sourcePort >> 8), std::uint8_t(sourcePort),
                               std::uint8_t(destinationPort >> 8), std::uint8_t(destinationPort)};
      bytes.insert(bytes.end(), ports, ports + 4);
      const std::size_t rest = protocol == kProtocolTCP ? 16 : 4;
      bytes.insert(bytes.end(), rest, 0);
      if (protocol == kProtocolTCP) {
        bytes[bytes.size() - 8] = static_cast<std::uint8_t>((20 + tcpOptions.size()) / 4 << 4);
        bytes.insert(bytes.end(), tcpOptions.begin(), tcpOptions.end());
      }
    } else if (protocol == kProtocolICMP) {
      bytes.insert(bytes.end(), {8, 0, 0, 0, 0, 1, 0, 1});
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    const auto total = static_cast<std::uint16_t>(totalLengthField < 0 ? bytes.size() : totalLengthField);
    bytes[2] = static_cast<std::uint8_t>(total >> 8);
    bytes[3] = static_cast<std::uint8_t>(total);
    return bytes;
  }
};

// Writes the IPv4 header checksum that makes the header's sum right.
inline void SetHeaderChecksum(std::vector<std::uint8_t>& bytes) {
  const std::size_t headerLength = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
  bytes[10] = bytes[11] = 0;
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < headerLength; at += 2) sum += bytes[at] << 8 | bytes[at + 1];
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = ~(sum + (sum >> 16)) & 0xFFFF;
  bytes[10] = static_cast<std::uint8_t>(sum >> 8);
  bytes[11] = static_cast<std::uint8_t>(sum);
}

}  // namespace orvanel::test
