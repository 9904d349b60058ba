#include "tools/cli_rows.h"

#include <cstdio>

namespace orvanel::cli {
namespace {

constexpr std::size_t kWriteBufferBytes = std::size_t{64} << 10;

}  // namespace

std::optional<std::string> CliRows::WriteTo(const std::string& path) {
  // Captured bytes are other people's data: the file is the owner's alone.
  file_.emplace(path, 0600);
  if (!file_->Stream()) {
    const std::string reason = file_->Error();
    file_.reset();
    return path + ": " + reason;
  }
  path_ = path;
  // Fewer, larger writes: less of each packet's time goes into the kernel.
  std::setvbuf(file_->Stream(), nullptr, _IOFBF, kWriteBufferBytes);
  writer_.emplace(file_->Stream());
  return std::nullopt;
}

void CliRows::AddRow(const ListedRow& row) {
  if (matcher_ && !matcher_->Matches(row.datagram)) return;
  printer_.AddRow(row);
  if (writer_) writer_->AddRow(row);
}

std::optional<std::string> CliRows::Finish() {
  if (!file_) return std::nullopt;
  writer_.reset();
  const auto failed = file_->Commit();
  file_.reset();
  if (failed) return path_ + ": " + *failed;
  return std::nullopt;
}

}  // namespace orvanel::cli
