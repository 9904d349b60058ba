#include "session/row_filter.h"

#include <chrono>

#include "storage/mapped_file.h"

namespace orvanel {
namespace {

// Address space only: a match for each of the spool's rows fits.
constexpr std::size_t kIndexReservation = std::size_t{4} << 30;
constexpr std::size_t kIndexChunk = std::size_t{1} << 20;
// While caught up with the spool, how long the thread waits for new rows.
constexpr auto kIdleWait = std::chrono::milliseconds(20);
// Rows looked at between two publications of the counts.
constexpr std::uint64_t kBatch = 4096;

}  // namespace

std::unique_ptr<RowFilter> RowFilter::Start(const RowSpool& spool, RowSpool::Reader rows,
                                            std::shared_ptr<const RowMatcher> matcher) {
  if (spool.Directory().empty()) return nullptr;
  auto index = MappedFile::Open(spool.Directory(), kIndexReservation, kIndexChunk, spool.Rule());
  if (!index) return nullptr;
  std::unique_ptr<RowFilter> filter(new RowFilter(std::move(rows), std::move(matcher), std::move(index)));
  filter->thread_ = std::thread([filter = filter.get()] { filter->Run(); });
  return filter;
}

RowFilter::RowFilter(RowSpool::Reader rows, std::shared_ptr<const RowMatcher> matcher,
                     std::unique_ptr<MappedFile> index)
    : rows_(std::move(rows)), matcher_(std::move(matcher)), index_(std::move(index)) {}

RowFilter::~RowFilter() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

std::uint64_t RowFilter::SpoolIndex(std::uint64_t match) const {
  return reinterpret_cast<const std::uint64_t*>(index_->Base())[match];
}

std::optional<std::uint64_t> RowFilter::MatchAtOrAfter(std::uint64_t spoolIndex) const {
  // Read once: matches published meanwhile may lie below spoolIndex, in rows
  // the thread had not looked at when the search began.
  const std::uint64_t matches = Matches();
  std::uint64_t low = 0;
  std::uint64_t high = matches;
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    if (SpoolIndex(middle) < spoolIndex) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == matches) return std::nullopt;
  return low;
}

void RowFilter::Run() {
  std::uint64_t row = 0;
  std::uint64_t matches = 0;
  auto* entries = reinterpret_cast<std::uint64_t*>(index_->Base());
  while (!stop_.load(std::memory_order_relaxed)) {
    const std::uint64_t rows = rows_.RowCount();
    if (row >= rows) {  // caught up
      std::this_thread::sleep_for(kIdleWait);
      continue;
    }
    const std::uint64_t end = std::min(rows, row + kBatch);
    for (; row < end; ++row) {
      if (!matcher_->Matches(rows_.Row(row).datagram)) continue;
      if (index_->Grow((matches + 1) * sizeof(std::uint64_t)) != 0) {
        notKept_.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      entries[matches++] = row;
    }
    matches_.store(matches, std::memory_order_release);
    lookedAt_.store(row, std::memory_order_release);
  }
}

}  // namespace orvanel
