// Looks for the next row a matcher takes in a list (the spool's rows, or a
// filter's matches), from one row towards the newer or the older ones, on a
// thread of its own that can be stopped at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "session/row_filter.h"
#include "session/row_match.h"
#include "storage/row_spool.h"

namespace orvanel {

class RowSearch {
 public:
  // Looks at rows from (an ordinal of the list: a reader's rows, or the
  // filter's matches among them) on, up to the newest of rows or down to the
  // oldest.
  RowSearch(RowSpool::Reader list, std::shared_ptr<const RowFilter> filter, std::shared_ptr<const RowMatcher> matcher,
            std::uint64_t from, std::uint64_t rows, bool towardsNewer);
  ~RowSearch();  // stops the thread
  RowSearch(const RowSearch&) = delete;
  RowSearch& operator=(const RowSearch&) = delete;

  [[nodiscard]] bool Done() const { return done_.load(std::memory_order_acquire); }
  // The ordinal found, once Done; nothing when no row matched.
  [[nodiscard]] std::optional<std::uint64_t> Found() const;
  // Progress: rows looked at, of how many.
  [[nodiscard]] std::uint64_t RowsLookedAt() const { return lookedAt_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::uint64_t RowsToLookAt() const { return toLookAt_; }

 private:
  void Run(std::uint64_t from, bool towardsNewer);

  const RowSpool::Reader list_;
  const std::shared_ptr<const RowFilter> filter_;
  const std::shared_ptr<const RowMatcher> matcher_;
  const std::uint64_t toLookAt_;
  std::uint64_t found_ = 0;  // written before done_
  bool foundAny_ = false;
  std::atomic<std::uint64_t> lookedAt_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace orvanel
