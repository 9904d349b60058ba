#include "ui/list_export.h"

#include <QFile>
#include <cstring>

#include "storage/pcapng_writer.h"
#include "storage/replacing_file.h"

namespace orvanel {
namespace {

constexpr std::uint64_t kRowsBetweenReports = 4096;

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

ListSave::ListSave(const RowSpool& spool, const RowFilter* filter, std::uint64_t rows, const QString& path)
    : spool_(spool), filter_(filter), rows_(rows) {
  thread_ = std::thread([this, target = QFile::encodeName(path).toStdString()] { Run(target); });
}

ListSave::~ListSave() {
  Cancel();
  // Once done, the thread touches nothing of ours: it ends by itself, and the
  // UI thread does not wait for it to get a core.
  if (Done() && thread_.joinable()) thread_.detach();
  Wait();
}

void ListSave::StopReading() {
  Cancel();
  reading_.wait(true, std::memory_order_acquire);
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
    if (row % kRowsBetweenReports == 0) written_.store(row, std::memory_order_relaxed);
    if (cancel_.load(std::memory_order_relaxed) || writer.Error() != 0) return false;
    const RowSpool::StoredRow stored = spool_.Row(filter_ ? filter_->SpoolIndex(row) : row);
    writer.WritePacket(stored.datagram, stored.captureTimeNs);
  }
  written_.store(rows_, std::memory_order_relaxed);
  return true;
}

void ListSave::Run(const std::string& target) {
  error_ = Write(target);
  done_.store(true, std::memory_order_release);
}

std::optional<QString> ListSave::Write(const std::string& target) {
  ReplacingFile file(target, 0600);  // captured bytes are other people's data
  const bool complete = file.Stream() && WriteRows(file.Stream());
  // The rest touches only the file: syncing it, or removing it when cancelled.
  reading_.store(false, std::memory_order_release);
  reading_.notify_all();
  if (!file.Stream()) return Reason(file.ErrorNumber());
  if (!complete && cancel_.load(std::memory_order_relaxed)) return QStringLiteral("已取消");
  if (file.Commit()) return Reason(file.ErrorNumber());  // a failed write's reason too
  return std::nullopt;
}

}  // namespace orvanel
