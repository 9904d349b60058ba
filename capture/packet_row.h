// The texts of one table row, made only where a row is shown or printed.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "capture/listed_row.h"

namespace orvanel {

// Columns of the packet table: protocol, source, port, destination, port,
// length, payload.
inline constexpr int kPacketColumnCount = 7;

// The seven texts of one row; views into the datagram and into its own scratch.
struct PacketRow {
  std::array<std::string_view, kPacketColumnCount> columns;
  std::array<char, 64> scratch;  // the addresses and the decimal texts of the ports and the length
};

// The texts the table shows for a listed row: ICMP rows have no ports and no
// payload. One formatter for the dialog and the command line.
void BuildPacketRow(const ListedRow& row, PacketRow& texts);

// The payload's bytes, zeros included: from where the payload text starts to
// the datagram's end. None for ICMP rows.
std::span<const std::uint8_t> PayloadBytes(const ListedRow& row);

}  // namespace orvanel
