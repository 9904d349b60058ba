#include "capture/conversation_expression.h"

#include "capture/address_text.h"
#include "capture/protocol.h"

namespace orvanel {
namespace {

std::string ProtocolTerm(std::uint8_t protocol) {
  switch (protocol) {
    case kProtocolTCP: return "tcp";
    case kProtocolUDP: return "udp";
    case kProtocolICMP: return "icmp";
    default: return "ip proto " + std::to_string(protocol);
  }
}

// One direction: from address and port to address and port.
std::string Direction(const std::string& from, std::uint16_t fromPort, const std::string& to, std::uint16_t toPort) {
  return "(src host " + from + " and src port " + std::to_string(fromPort) + " and dst host " + to + " and dst port " +
         std::to_string(toPort) + ")";
}

}  // namespace

std::string ConversationExpression(const ConversationKey& key) {
  const std::string a(AddressText(key.addressA).View());
  const std::string b(AddressText(key.addressB).View());
  const std::string protocol = ProtocolTerm(key.protocol);
  if (key.hasPorts) {
    return protocol + " and (" + Direction(a, key.portA, b, key.portB) + " or " +
           Direction(b, key.portB, a, key.portA) + ")";
  }
  const std::string hosts = a == b ? "src host " + a + " and dst host " + a : "host " + a + " and host " + b;
  if (key.protocol != kProtocolTCP && key.protocol != kProtocolUDP) return protocol + " and " + hosts;
  return protocol + " and " + hosts + " and (ip[6:2] & 0x1fff != 0 or len < (ip[0] & 0xf) * 4 + 4)";
}

}  // namespace orvanel
