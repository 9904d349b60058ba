// A packet table that prints each row as a line, in the order rows are added.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "capture/counters.h"
#include "capture/listed_row.h"

namespace orvanel::cli {

enum class OutputFormat { Tsv, Json };

class RowPrinter final : public PacketTable {
 public:
  // Without out, rows are only counted. withTime puts each row's capture
  // time first, local to the microsecond.
  explicit RowPrinter(std::FILE* out, OutputFormat format = OutputFormat::Tsv, bool withTime = false)
      : out_(out), format_(format), withTime_(withTime) {}

  void AddRow(const ListedRow& row) override;

  // Rows added so far; any thread may ask.
  [[nodiscard]] std::uint64_t RowsListed() const { return rowsListed_.load(std::memory_order_relaxed); }
  // Rows whose line could not be written; any thread may ask.
  [[nodiscard]] std::uint64_t RowsNotListed() const { return rowsNotListed_.load(std::memory_order_relaxed); }

 private:
  std::FILE* out_;
  OutputFormat format_;
  bool withTime_;
  std::string line_;                          // kept to reuse its memory
  std::atomic<std::uint64_t> rowsListed_{0};  // written by one thread at a time
  std::atomic<std::uint64_t> rowsNotListed_{0};
};

// The five counter lines (#all, #src, #dst, #other, #errors) and the four byte
// lines (#bytes_all, #bytes_src, #bytes_dst, #bytes_other), or their JSON object.
void PrintCounters(std::FILE* out, const CounterSnapshot& counters, OutputFormat format);

}  // namespace orvanel::cli
