#include "ui/list_export.h"

#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/pcapng_writer.h"


namespace orvanel {
namespace {

constexpr std::uint64_t kRowsBetweenChecks = 4096;  // rows between progress reports and looks at Cancel

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

ListSave::ListSave(const RowSpool& spool, const RowFilter* filter, std::uint64_t rows, const QString& path)
    : spool_(spool), filter_(filter), rows_(rows) {
  thread_ = std::thread([this, target = QFile::encodeName(path)] { Run(target); });
}

ListSave::~ListSave() {
  Cancel();
  Wait();
}

void ListSave::Wait() {
  if (thread_.joinable()) thread_.join();
}

std::optional<QString> ListSave::Error() const {
  if (!Done()) return std::nullopt;
  return error_;
}

bool ListSave::WriteRows(std::FILE* out) {
  PcapngWriter writer(out);
  for (std::uint64_t row = 0; row < rows_; ++row) {
    if (row % kRowsBetweenChecks == 0) {
      written_.store(row, std::memory_order_relaxed);
      if (cancel_.load(std::memory_order_relaxed)) return false;
    }
    const RowSpool::StoredRow stored = spool_.Row(filter_ ? filter_->SpoolIndex(row) : row);
    writer.WritePacket(stored.datagram, stored.captureTimeNs);
  }
  written_.store(rows_, std::memory_order_relaxed);
  return true;
}

void ListSave::Run(const QByteArray& target) {
  QByteArray temporary = target + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // mode 0600: captured bytes are other people's data
  std::FILE* out = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (!out) {
    error_ = Reason(errno);
    if (fd >= 0) {
      close(fd);
      unlink(temporary.constData());
    }
    done_.store(true, std::memory_order_release);
    return;
  }
  const bool complete = WriteRows(out);
  errno = EIO;  // fwrite does not always say why
  const bool written = complete && std::ferror(out) == 0 && std::fflush(out) == 0 && fsync(fd) == 0;
  const int error = errno;
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed || std::rename(temporary.constData(), target.constData()) != 0) {
    error_ = !complete ? QStringLiteral("已取消") : Reason(!written ? error : errno);
    unlink(temporary.constData());
  }
  done_.store(true, std::memory_order_release);
}

}  // namespace orvanel
