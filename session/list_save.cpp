#include "session/list_save.h"

#include <cerrno>

#include "storage/pcapng_writer.h"
#include "storage/replacing_file.h"

namespace orvanel {
namespace {

constexpr std::uint64_t kRowsBetweenReports = 4096;

}  // namespace

ListSave::ListSave(RowSpool::Reader list, std::shared_ptr<const RowFilter> filter, std::uint64_t rows, std::string path)
    : list_(std::move(list)), filter_(std::move(filter)), rows_(rows) {
  thread_ = std::thread([this, path = std::move(path)] { Run(path); });
}

ListSave::~ListSave() {
  Cancel();
  // Once done, the thread touches nothing of ours: it ends by itself, and the
  // caller does not wait for it to get a core.
  if (Done() && thread_.joinable()) thread_.detach();
  Wait();
}

void ListSave::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool ListSave::WriteRows(std::FILE* out) {
  PcapngWriter writer(out);
  for (std::uint64_t row = 0; row < rows_; ++row) {
    if (row % kRowsBetweenReports == 0) written_.store(row, std::memory_order_relaxed);
    if (cancel_.load(std::memory_order_relaxed) || writer.Error() != 0) return false;
    const RowSpool::StoredRow stored = list_.Row(filter_ ? filter_->SpoolIndex(row) : row);
    writer.WritePacket(stored.datagram, stored.captureTimeNs);
  }
  written_.store(rows_, std::memory_order_relaxed);
  return true;
}

void ListSave::Run(const std::string& path) {
  error_ = Write(path);
  done_.store(true, std::memory_order_release);
}

int ListSave::Write(const std::string& path) {
  ReplacingFile file(path, 0600);  // captured bytes are other people's data
  const bool complete = file.Stream() && WriteRows(file.Stream());
  if (!file.Stream()) return file.ErrorNumber();
  if (!complete && cancel_.load(std::memory_order_relaxed)) return ECANCELED;
  if (file.Commit()) return file.ErrorNumber();  // a failed write's reason too
  return 0;
}

}  // namespace orvanel
