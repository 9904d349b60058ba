#include "packet_decode.h"

#include <charconv>
#include <cstring>

namespace orvanel {
namespace {

constexpr std::size_t kTcpPayloadOffset = 40;  // 20-byte IPv4 header + 20-byte TCP header
constexpr std::size_t kUdpPayloadOffset = 28;  // 20-byte IPv4 header + 8-byte UDP header
constexpr int kSourcePortOffset = 20;
constexpr int kDestinationPortOffset = 22;

// An octet's digits followed by its point, so one 4-byte copy writes both.
struct OctetText {
  char text[4];
  std::uint8_t length;  // with the point
};

constexpr std::array<OctetText, 256> MakeOctetTexts() {
  std::array<OctetText, 256> table{};
  for (int value = 0; value < 256; ++value) {
    OctetText& octet = table[value];
    if (value >= 100) {
      octet = {{char('0' + value / 100), char('0' + value / 10 % 10), char('0' + value % 10), '.'}, 4};
    } else if (value >= 10) {
      octet = {{char('0' + value / 10), char('0' + value % 10), '.', 0}, 3};
    } else {
      octet = {{char('0' + value), '.', 0, 0}, 2};
    }
  }
  return table;
}
constexpr std::array<OctetText, 256> kOctetTexts = MakeOctetTexts();

// Appends the decimal text of value to the scratch and returns a view of it.
std::string_view AppendDecimal(std::array<char, 24>& scratch, std::size_t& used, unsigned value) {
  char* begin = scratch.data() + used;
  char* end = std::to_chars(begin, scratch.data() + scratch.size(), value).ptr;
  used += static_cast<std::size_t>(end - begin);
  return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace

DottedAddress AddressText(std::uint32_t networkOrderAddress) {
  std::uint8_t octets[4];
  std::memcpy(octets, &networkOrderAddress, sizeof octets);
  DottedAddress dotted;
  char* out = dotted.text_.data();
  for (const std::uint8_t value : octets) {
    const OctetText& octet = kOctetTexts[value];
    std::memcpy(out, octet.text, 4);  // at most 12 + 4 bytes: the text has room
    out += octet.length;
  }
  dotted.length_ = static_cast<std::uint8_t>(out - dotted.text_.data() - 1);  // without the last point
  return dotted;
}

std::uint16_t ReadPort(const ReceiveBuffer& buffer, int offset) {
  return static_cast<std::uint16_t>(buffer[offset] << 8 | buffer[offset + 1]);
}

std::string_view PayloadText(const ReceiveBuffer& buffer, std::size_t offset) {
  const auto* begin = reinterpret_cast<const char*>(buffer.data()) + offset;
  const void* zero = std::memchr(begin, 0, buffer.size() - offset);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - begin) : buffer.size() - offset;
  return {begin, length};
}

void BuildPacketRow(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view,
                    std::string_view sourceText, std::string_view destinationText, PacketRow& row) {
  std::size_t used = 0;
  row.columns = {};
  row.columns[0] = ProtocolLabel(protocol);
  row.columns[1] = sourceText;
  row.columns[3] = destinationText;
  if (protocol != ProtocolClass::ICMP) {
    row.columns[2] = AppendDecimal(row.scratch, used, ReadPort(buffer, kSourcePortOffset));
    row.columns[4] = AppendDecimal(row.scratch, used, ReadPort(buffer, kDestinationPortOffset));
  }
  row.columns[5] = AppendDecimal(row.scratch, used, view.TotalLength());
  if (protocol == ProtocolClass::TCP) row.columns[6] = PayloadText(buffer, kTcpPayloadOffset);
  if (protocol == ProtocolClass::UDP) row.columns[6] = PayloadText(buffer, kUdpPayloadOffset);
}

void AddPacketRow(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view,
                  std::string_view sourceText, std::string_view destinationText, PacketTable& table) {
  PacketRow row;
  BuildPacketRow(protocol, buffer, view, sourceText, destinationText, row);
  table.InsertItem(0, row.columns[0]);
  static constexpr int kTransportColumns[] = {1, 2, 3, 4, 5, 6};
  static constexpr int kIcmpColumns[] = {1, 3, 5};
  if (protocol == ProtocolClass::ICMP) {
    for (int column : kIcmpColumns) table.SetItemText(0, column, row.columns[column]);
  } else {
    for (int column : kTransportColumns) table.SetItemText(0, column, row.columns[column]);
  }
}

}  // namespace orvanel
