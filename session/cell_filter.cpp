#include "session/cell_filter.h"

#include <algorithm>
#include <cctype>

#include "capture/packet_row.h"

namespace orvanel {

std::string FilterForCell(const ListedRow& row, int column) {
  PacketRow texts;
  BuildPacketRow(row, texts);
  if (column < 0 || column >= kPacketColumnCount) return {};
  const std::string text(texts.columns[static_cast<std::size_t>(column)]);
  if (text.empty()) return {};
  switch (column) {
    case 0: {
      std::string name = text;
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      return name;
    }
    case 1:
    case 3: return "host " + text;
    case 2:
    case 4: return "port " + text;
    case 5: return "len == " + text;
    default: return {};
  }
}

}  // namespace orvanel
