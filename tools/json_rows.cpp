#include "tools/json_rows.h"

#include "capture/tsv_row.h"
#include "tools/traffic_names.h"

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

void AppendBase64(std::string& out, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out += '"';
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = std::uint32_t{bytes[i]} << 16;
    if (left > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
    if (left > 2) group |= bytes[i + 2];
    out += kDigits[group >> 18 & 63];
    out += kDigits[group >> 12 & 63];
    out += left > 1 ? kDigits[group >> 6 & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  out += '"';
}

}  // namespace

void AppendJsonRow(std::string& out, const std::array<std::string_view, kPacketColumnCount>& columns,
                   std::span<const std::uint8_t> payload, std::optional<std::string_view> time) {
  out += '{';
  if (time) {
    out += "\"time\":";
    AppendJsonString(out, *time);
    out += ',';
  }
  for (int column = 0; column < kPacketColumnCount; ++column) {
    out += '"';
    out += kColumnNames[column];
    out += "\":";
    AppendJsonString(out, columns[column]);
    out += ',';
  }
  out += "\"payload_base64\":";
  AppendBase64(out, payload);
  out += '}';
}

void AppendJsonCounters(std::string& out, const CounterSnapshot& counters) {
  const auto appendGroups = [&](auto value) {
    for (const GroupName& group : kGroupNames) {
      out += '"';
      out += group.name;
      out += "\":{";
      for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
        out += protocol == 0 ? "\"" : ",\"";
        out += kProtocolNames[protocol];
        out += "\":";
        out += std::to_string(value(group.group, static_cast<ProtocolClass>(protocol)));
      }
      out += "},";
    }
  };
  out += "{\"counters\":{";
  appendGroups([&](TrafficGroup group, ProtocolClass protocol) { return counters.Count(group, protocol); });
  out += "\"errors\":" + std::to_string(counters.receiveErrors) + ",\"bytes\":{";
  appendGroups([&](TrafficGroup group, ProtocolClass protocol) { return counters.Bytes(group, protocol); });
  out.back() = '}';
  out += "}}";
}

}  // namespace orvanel::cli
