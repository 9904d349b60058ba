#include "tools/row_printer.h"

#include "capture/packet_decode.h"
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

void RowPrinter::AddRow(const ListedRow& row) {
  rowsListed_.store(rowsListed_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (!out_) return;
  PacketRow texts;
  BuildPacketRow(row, texts);
  line_.clear();
  if (format_ == OutputFormat::Json) {
    AppendJsonRow(line_, texts.columns);
  } else {
    for (int column = 0; column < kPacketColumnCount; ++column) {
      if (column > 0) line_ += '\t';
      AppendEscaped(line_, texts.columns[column]);
    }
  }
  line_ += '\n';
  std::fwrite(line_.data(), 1, line_.size(), out_);
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
