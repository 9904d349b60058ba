// The protocols a packet is counted and listed under.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvanel {

enum class ProtocolClass : std::uint8_t { TCP = 0, UDP = 1, ICMP = 2, OTHER = 3 };
inline constexpr int kProtocolClassCount = 4;

inline constexpr std::uint8_t kProtocolICMP = 1;
inline constexpr std::uint8_t kProtocolTCP = 6;
inline constexpr std::uint8_t kProtocolUDP = 17;

constexpr ProtocolClass ClassOfProtocol(std::uint8_t protocolByte) {
  switch (protocolByte) {
    case kProtocolTCP: return ProtocolClass::TCP;
    case kProtocolUDP: return ProtocolClass::UDP;
    case kProtocolICMP: return ProtocolClass::ICMP;
    default: return ProtocolClass::OTHER;
  }
}

// The label of column 0; OTHER has none and is never listed.
constexpr std::string_view ProtocolLabel(ProtocolClass protocol) {
  switch (protocol) {
    case ProtocolClass::TCP: return "TCP";
    case ProtocolClass::UDP: return "UDP";
    case ProtocolClass::ICMP: return "ICMP";
    case ProtocolClass::OTHER: break;
  }
  return {};
}

}  // namespace orvanel
