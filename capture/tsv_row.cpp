#include "capture/tsv_row.h"

namespace orvanel {

void AppendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte <= 0x7e) {
      out += c;
    } else {
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
    }
  }
}

void AppendTsvRow(std::string& out, const PacketRow& texts) {
  for (int column = 0; column < kPacketColumnCount; ++column) {
    if (column > 0) out += '\t';
    AppendEscaped(out, texts.columns[column]);
  }
}

}  // namespace orvanel
