#include "tools/json_rows.h"

#include "tools/row_printer.h"

namespace orvanel::cli {
namespace {

constexpr std::string_view kColumnNames[kPacketColumnCount] = {
    "protocol", "source_address", "source_port", "destination_address", "destination_port", "length", "payload",
};

// The escaped text is printable ASCII, so only the quote and the backslash
// need escaping again inside a JSON string.
void AppendJsonString(std::string& out, std::string_view text) {
  std::string escaped;
  AppendEscaped(escaped, text);
  out += '"';
  for (const char c : escaped) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out += '"';
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<std::uint8_t>(bytes[i + 2]);
    out += kDigits[group >> 18 & 63];
    out += kDigits[group >> 12 & 63];
    out += left > 1 ? kDigits[group >> 6 & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  out += '"';
}

}  // namespace

void AppendJsonRow(std::string& out, const std::array<std::string_view, kPacketColumnCount>& columns) {
  out += '{';
  for (int column = 0; column < kPacketColumnCount; ++column) {
    out += '"';
    out += kColumnNames[column];
    out += "\":";
    AppendJsonString(out, columns[column]);
    out += ',';
  }
  out += "\"payload_base64\":";
  AppendBase64(out, columns[kPacketColumnCount - 1]);
  out += '}';
}

void AppendJsonCounters(std::string& out, const PacketCounters& counters) {
  static constexpr std::pair<std::string_view, TrafficGroup> kGroups[] = {
      {"all", TrafficGroup::All},
      {"src", TrafficGroup::Source},
      {"dst", TrafficGroup::Destination},
      {"other", TrafficGroup::Other},
  };
  static constexpr std::pair<std::string_view, ProtocolClass> kProtocols[] = {
      {"tcp", ProtocolClass::TCP},
      {"udp", ProtocolClass::UDP},
      {"icmp", ProtocolClass::ICMP},
      {"other", ProtocolClass::OTHER},
  };
  out += "{\"counters\":{";
  for (const auto& [groupName, group] : kGroups) {
    out += '"';
    out += groupName;
    out += "\":{";
    for (const auto& [protocolName, protocol] : kProtocols) {
      out += '"';
      out += protocolName;
      out += "\":";
      out += std::to_string(counters.Count(group, protocol));
      out += protocol == ProtocolClass::OTHER ? "}," : ",";
    }
  }
  out += "\"errors\":" + std::to_string(counters.ReceiveErrors()) + "}}";
}

}  // namespace orvanel::cli
