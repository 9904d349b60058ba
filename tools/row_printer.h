// A packet table that prints each row as a line, in the order rows are added.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "capture/capture.h"
#include "capture/listed_row.h"

namespace orvanel::cli {

class RowPrinter final : public PacketTable {
 public:
  explicit RowPrinter(std::FILE* out) : out_(out) {}

  void AddRow(const ListedRow& row) override;

 private:
  std::FILE* out_;
  std::string line_;  // kept to reuse its memory
};

// Appends text with every byte outside 0x20-0x7e, and the backslash, escaped.
void AppendEscaped(std::string& out, std::string_view text);

// The five counter lines: #all, #src, #dst, #other, #errors.
void PrintCounters(std::FILE* out, const PacketCounters& counters);

}  // namespace orvanel::cli
