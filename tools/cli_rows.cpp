#include "tools/cli_rows.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvanel::cli {

// Closes the file of a run that ended early; its errors only count for a caller of Finish.
CliRows::~CliRows() { (void)Finish(); }

std::optional<std::string> CliRows::WriteTo(const std::string& path) {
  // Captured bytes are other people's data: the file is the owner's alone.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || !(file_ = fdopen(fd, "wb"))) {
    const std::string reason = std::strerror(errno);
    if (fd >= 0) close(fd);
    return path + ": " + reason;
  }
  path_ = path;
  writer_.emplace(file_);
  return std::nullopt;
}

void CliRows::AddRow(const ListedRow& row) {
  printer_.AddRow(row);
  if (writer_) writer_->AddRow(row);
}

std::optional<std::string> CliRows::Finish() {
  if (!file_) return std::nullopt;
  const bool ok = writer_->Ok() && std::fflush(file_) == 0;
  const int error = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  writer_.reset();
  if (ok && closed) return std::nullopt;
  return path_ + ": " + std::strerror(ok ? errno : error);
}

}  // namespace orvanel::cli
