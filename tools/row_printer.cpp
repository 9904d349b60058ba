#include "tools/row_printer.h"

#include <cinttypes>

#include "capture/packet_row.h"
#include "capture/time_text.h"
#include "capture/tsv_row.h"
#include "tools/json_rows.h"
#include "tools/traffic_names.h"

namespace orvanel::cli {

void RowPrinter::AddRow(const ListedRow& row) {
  rowsListed_.store(rowsListed_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (!out_) return;
  PacketRow texts;
  BuildPacketRow(row, texts);
  line_.clear();
  const TimeText time = LocalTimeText(withTime_ ? row.captureTimeNs : 0);
  if (format_ == OutputFormat::Json) {
    AppendJsonRow(line_, texts.columns, PayloadBytes(row), withTime_ ? std::optional(time.View()) : std::nullopt);
  } else {
    if (withTime_) {
      line_ += time.View();
      line_ += '\t';
    }
    AppendTsvRow(line_, texts);
  }
  line_ += '\n';
  if (std::fwrite(line_.data(), 1, line_.size(), out_) != line_.size()) {
    rowsNotListed_.store(rowsNotListed_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
}

void PrintCounters(std::FILE* out, const CounterSnapshot& counters, OutputFormat format) {
  if (format == OutputFormat::Json) {
    std::string object;
    AppendJsonCounters(object, counters);
    std::fprintf(out, "%s\n", object.c_str());
    return;
  }
  for (const GroupName& group : kGroupNames) {
    const auto count = [&](ProtocolClass protocol) { return counters.Count(group.group, protocol); };
    std::fprintf(out, "#%.*s\t%d\t%d\t%d\t%d\n", static_cast<int>(group.name.size()), group.name.data(),
                 count(ProtocolClass::TCP), count(ProtocolClass::UDP), count(ProtocolClass::ICMP),
                 count(ProtocolClass::OTHER));
  }
  std::fprintf(out, "#errors\t%d\n", counters.receiveErrors);
  // Bytes on lines of their own, after the packet lines that readers know.
  for (const GroupName& group : kGroupNames) {
    const auto bytes = [&](ProtocolClass protocol) { return counters.Bytes(group.group, protocol); };
    std::fprintf(out, "#bytes_%.*s\t%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\n",
                 static_cast<int>(group.name.size()), group.name.data(), bytes(ProtocolClass::TCP),
                 bytes(ProtocolClass::UDP), bytes(ProtocolClass::ICMP), bytes(ProtocolClass::OTHER));
  }
}

}  // namespace orvanel::cli
