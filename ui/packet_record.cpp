#include "packet_record.h"

#include <charconv>
#include <cstring>

#include "capture/capture.h"
#include "capture/packet_decode.h"

namespace orvanel {
namespace {

bool ParseLabel(std::string_view text, std::uint8_t& label) {
  for (ProtocolClass protocol : {ProtocolClass::TCP, ProtocolClass::UDP, ProtocolClass::ICMP}) {
    if (text == ProtocolLabel(protocol)) {
      label = static_cast<std::uint8_t>(protocol);
      return true;
    }
  }
  return false;
}

// Only the canonical text (what AddressText makes) is accepted.
bool ParseAddress(std::string_view text, std::uint32_t& address) {
  std::uint8_t octets[4];
  const char* cursor = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (cursor == end || *cursor != '.') return false;
      ++cursor;
    }
    unsigned value = 0;
    const auto [next, error] = std::from_chars(cursor, end, value);
    if (error != std::errc() || value > 255) return false;
    octets[i] = static_cast<std::uint8_t>(value);
    cursor = next;
  }
  if (cursor != end) return false;
  std::memcpy(&address, octets, sizeof address);
  return AddressText(address).View() == text;
}

bool ParseNumber(std::string_view text, std::uint16_t& number) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  unsigned value = 0;
  const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || next != text.data() + text.size() || value > 0xFFFF) return false;
  number = static_cast<std::uint16_t>(value);
  return true;
}

bool ParseCompact(PacketRecord& record, int column, std::string_view text) {
  switch (column) {
    case 0: {
      std::uint8_t label = 0;
      if (!ParseLabel(text, label)) return false;
      record.SetLabel(label);
      return true;
    }
    case 1: return ParseAddress(text, record.source);
    case 2: return ParseNumber(text, record.sourcePort);
    case 3: return ParseAddress(text, record.destination);
    case 4: return ParseNumber(text, record.destinationPort);
    case 5: return ParseNumber(text, record.length);
    default: return false;
  }
}

std::string_view Copy(std::array<char, 16>& out, std::string_view text) {
  std::memcpy(out.data(), text.data(), text.size());
  return {out.data(), text.size()};
}

std::string_view Decimal(std::array<char, 16>& out, unsigned value) {
  char* end = std::to_chars(out.data(), out.data() + out.size(), value).ptr;
  return {out.data(), static_cast<std::size_t>(end - out.data())};
}

std::uint16_t ReadLength(const char* at) {
  std::uint16_t length;
  std::memcpy(&length, at, sizeof length);
  return length;
}

}  // namespace

std::string_view StoreColumn(PacketRecord& record, int column, std::string_view text) {
  if (text.empty()) {
    record.SetKind(column, ColumnKind::Empty);
    return {};
  }
  if (ParseCompact(record, column, text)) {
    record.SetKind(column, ColumnKind::Compact);
    return {};
  }
  record.SetKind(column, ColumnKind::Text);
  return text.substr(0, kMaxColumnText);
}

std::string_view CompactColumnText(const PacketRecord& record, int column, std::array<char, 16>& out) {
  if (record.Kind(column) != ColumnKind::Compact) return {};
  switch (column) {
    case 0: return ProtocolLabel(static_cast<ProtocolClass>(record.Label()));
    case 1: return Copy(out, AddressText(record.source).View());
    case 2: return Decimal(out, record.sourcePort);
    case 3: return Copy(out, AddressText(record.destination).View());
    case 4: return Decimal(out, record.destinationPort);
    case 5: return Decimal(out, record.length);
    default: return {};
  }
}

std::string_view TextColumn(const PacketRecord& record, const char* textBlock, int column) {
  if (record.Kind(column) != ColumnKind::Text) return {};
  const char* at = textBlock;
  for (int before = 0; before < column; ++before) {
    if (record.Kind(before) == ColumnKind::Text) at += kTextLengthBytes + ReadLength(at);
  }
  return {at + kTextLengthBytes, ReadLength(at)};
}

std::size_t TextBlockSize(const PacketRecord& record, const char* textBlock) {
  const char* at = textBlock;
  for (int column = 0; column < kRecordColumns; ++column) {
    if (record.Kind(column) == ColumnKind::Text) at += kTextLengthBytes + ReadLength(at);
  }
  return static_cast<std::size_t>(at - textBlock);
}

}  // namespace orvanel
