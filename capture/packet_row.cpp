#include "capture/packet_row.h"

#include <charconv>
#include <cstring>

#include "capture/address_text.h"
#include "capture/packet_decode.h"

namespace orvanel {
namespace {

// Appends the decimal text of value to the scratch and returns a view of it.
std::string_view AppendDecimal(std::array<char, 64>& scratch, std::size_t& used, unsigned value) {
  char* begin = scratch.data() + used;
  char* end = std::to_chars(begin, scratch.data() + scratch.size(), value).ptr;
  used += static_cast<std::size_t>(end - begin);
  return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace

void BuildPacketRow(const ListedRow& row, PacketRow& texts) {
  std::size_t used = 0;
  const auto keep = [&](std::string_view text) {
    char* begin = texts.scratch.data() + used;
    std::memcpy(begin, text.data(), text.size());
    used += text.size();
    return std::string_view(begin, text.size());
  };
  texts.columns = {};
  texts.columns[0] = ProtocolLabel(row.protocol);
  texts.columns[1] = keep(AddressText(row.source).View());
  texts.columns[3] = keep(AddressText(row.destination).View());
  if (row.hasPorts) {
    texts.columns[2] = AppendDecimal(texts.scratch, used, row.sourcePort);
    texts.columns[4] = AppendDecimal(texts.scratch, used, row.destinationPort);
  }
  texts.columns[5] = AppendDecimal(texts.scratch, used, row.totalLength);
  texts.columns[6] = PayloadText(PayloadBytes(row), 0);
}

std::span<const std::uint8_t> PayloadBytes(const ListedRow& row) {
  return row.datagram.subspan(row.payloadBegin, row.payloadEnd - row.payloadBegin);
}

}  // namespace orvanel
