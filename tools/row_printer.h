// A packet table that prints each row as a line, in the order rows are added.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "capture/capture.h"

namespace orvanel::cli {

class RowPrinter final : public PacketTable {
 public:
  explicit RowPrinter(std::FILE* out) : out_(out) {}

  // A new item at the top ends the row before it, which is printed then.
  void InsertItem(int index, std::string_view text) override;
  void SetItemText(int item, int column, std::string_view text) override;

  // Prints the last row, if one is still open.
  void Flush();

 private:
  std::FILE* out_;
  std::array<std::string, kPacketColumnCount> columns_;  // the open row
  bool open_ = false;
};

// Appends text with every byte outside 0x20-0x7e, and the backslash, escaped.
void AppendEscaped(std::string& out, std::string_view text);

// The five counter lines: #all, #src, #dst, #other, #errors.
void PrintCounters(std::FILE* out, const PacketCounters& counters);

}  // namespace orvanel::cli
