#include "session/row_search.h"

namespace orvanel {
namespace {

constexpr std::uint64_t kProgressStep = 4096;  // rows between progress reports and looks at the stop flag

}  // namespace

RowSearch::RowSearch(RowSpool::Reader list, std::shared_ptr<const RowFilter> filter,
                     std::shared_ptr<const RowMatcher> matcher, std::uint64_t from, std::uint64_t rows,
                     bool towardsNewer)
    : list_(std::move(list)),
      filter_(std::move(filter)),
      matcher_(std::move(matcher)),
      toLookAt_(from >= rows   ? 0
                : towardsNewer ? rows - from
                               : from + 1) {
  thread_ = std::thread([this, from, towardsNewer] { Run(from, towardsNewer); });
}

RowSearch::~RowSearch() {
  stop_.store(true, std::memory_order_relaxed);
  thread_.join();
}

std::optional<std::uint64_t> RowSearch::Found() const {
  if (!Done() || !foundAny_) return std::nullopt;
  return found_;
}

void RowSearch::Run(std::uint64_t from, bool towardsNewer) {
  for (std::uint64_t looked = 0; looked < toLookAt_; ++looked) {
    if (looked % kProgressStep == 0) {
      lookedAt_.store(looked, std::memory_order_relaxed);
      if (stop_.load(std::memory_order_relaxed)) break;
    }
    const std::uint64_t ordinal = towardsNewer ? from + looked : from - looked;
    const std::uint64_t row = filter_ ? filter_->SpoolIndex(ordinal) : ordinal;
    if (matcher_->Matches(list_.Row(row).datagram)) {
      found_ = ordinal;
      foundAny_ = true;
      break;
    }
  }
  done_.store(true, std::memory_order_release);
}

}  // namespace orvanel
