// One row as a line of tab-separated text, the cli's output and what the
// dialog copies: the seven texts, each byte outside 0x20-0x7e and the
// backslash escaped, so a line never holds a tab or a line break of its own.
#pragma once

#include <string>
#include <string_view>

#include "capture/packet_row.h"

namespace orvanel {

// Appends text with every byte outside 0x20-0x7e, and the backslash, escaped.
void AppendEscaped(std::string& out, std::string_view text);
// Appends the row's line, without its line break.
void AppendTsvRow(std::string& out, const PacketRow& texts);

}  // namespace orvanel
