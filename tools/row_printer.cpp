#include "tools/row_printer.h"

#include <algorithm>

#include "tools/json_rows.h"

namespace orvanel::cli {

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

void RowPrinter::InsertItem(int, std::string_view text) {
  rowsListed_.store(rowsListed_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (!out_) return;
  Flush();
  for (std::string& column : columns_) column.clear();
  columns_[0] = text;
  open_ = true;
}

void RowPrinter::SetItemText(int, int column, std::string_view text) {
  if (open_ && column > 0 && column < kPacketColumnCount) columns_[column] = text;
}

void RowPrinter::Flush() {
  if (!open_) return;
  open_ = false;
  std::string line;
  if (format_ == OutputFormat::Json) {
    std::array<std::string_view, kPacketColumnCount> columns;
    std::copy(columns_.begin(), columns_.end(), columns.begin());
    AppendJsonRow(line, columns);
  } else {
    for (int column = 0; column < kPacketColumnCount; ++column) {
      if (column > 0) line += '\t';
      AppendEscaped(line, columns_[column]);
    }
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
}

void PrintCounters(std::FILE* out, const PacketCounters& counters, OutputFormat format) {
  if (format == OutputFormat::Json) {
    std::string object;
    AppendJsonCounters(object, counters);
    std::fprintf(out, "%s\n", object.c_str());
    return;
  }
  static constexpr std::pair<const char*, TrafficGroup> kLines[] = {
      {"#all", TrafficGroup::All},
      {"#src", TrafficGroup::Source},
      {"#dst", TrafficGroup::Destination},
      {"#other", TrafficGroup::Other},
  };
  for (const auto& [label, group] : kLines) {
    std::fprintf(out, "%s\t%d\t%d\t%d\t%d\n", label, counters.Count(group, ProtocolClass::TCP),
                 counters.Count(group, ProtocolClass::UDP), counters.Count(group, ProtocolClass::ICMP),
                 counters.Count(group, ProtocolClass::OTHER));
  }
  std::fprintf(out, "#errors\t%d\n", counters.ReceiveErrors());
}

}  // namespace orvanel::cli
