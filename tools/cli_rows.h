// Where orvanel-cli's listed rows go: printed, and also written to a pcapng
// file when --write asks for one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "capture/listed_row.h"
#include "session/row_match.h"
#include "storage/pcapng_writer.h"
#include "storage/replacing_file.h"
#include "tools/row_printer.h"

namespace orvanel::cli {

class CliRows final : public PacketTable {
 public:
  // Without out, rows are only counted (and written to the pcapng file).
  CliRows(std::FILE* out, OutputFormat format, bool withTime) : printer_(out, format, withTime) {}
  ~CliRows() override = default;
  CliRows(const CliRows&) = delete;
  CliRows& operator=(const CliRows&) = delete;

  // Writes the rows to a new file beside path, readable by its owner only,
  // which replaces path at Finish; a run that ends without Finish leaves path
  // as it was. Returns an error text, or nothing.
  [[nodiscard]] std::optional<std::string> WriteTo(const std::string& path);

  // Only rows the matcher takes are listed and written from now on.
  void Narrow(std::unique_ptr<RowMatcher> matcher) { matcher_ = std::move(matcher); }

  void AddRow(const ListedRow& row) override;
  // Rows added so far; any thread may ask.
  [[nodiscard]] std::uint64_t RowsListed() const { return printer_.RowsListed(); }
  // Rows whose line could not be written; any thread may ask.
  [[nodiscard]] std::uint64_t RowsNotListed() const { return printer_.RowsNotListed(); }

  // Puts the pcapng file in place; an error text when any write to it failed
  // (path is left as it was then).
  [[nodiscard]] std::optional<std::string> Finish();

 private:
  RowPrinter printer_;
  std::unique_ptr<RowMatcher> matcher_;
  std::string path_;
  std::optional<ReplacingFile> file_;
  std::optional<PcapngWriter> writer_;
};

}  // namespace orvanel::cli
