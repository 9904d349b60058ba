// The rows of a list that a matcher takes, found by a thread of its own that
// goes on with each new row as it arrives. The matches' spool indices are
// kept in an unnamed file beside the spool's (8 bytes a match), mapped, never
// in the heap. One thread reads the matches while the filter runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "session/row_match.h"
#include "storage/row_spool.h"

namespace orvanel {

class MappedFile;

class RowFilter {
 public:
  // Over the rows of a reader of spool, with its file beside the spool's.
  // Nothing when the spool keeps no files.
  static std::unique_ptr<RowFilter> Start(const RowSpool& spool, RowSpool::Reader rows,
                                          std::shared_ptr<const RowMatcher> matcher);
  ~RowFilter();  // stops the thread
  RowFilter(const RowFilter&) = delete;
  RowFilter& operator=(const RowFilter&) = delete;

  // Matches found so far, and the spool rows looked at for them.
  [[nodiscard]] std::uint64_t Matches() const { return matches_.load(std::memory_order_acquire); }
  [[nodiscard]] std::uint64_t RowsLookedAt() const { return lookedAt_.load(std::memory_order_acquire); }
  // Matches the file had no room for: rows left out of the list.
  [[nodiscard]] std::uint64_t MatchesNotKept() const { return notKept_.load(std::memory_order_relaxed); }

  // The spool index of a match; match < Matches().
  [[nodiscard]] std::uint64_t SpoolIndex(std::uint64_t match) const;
  // The match of a spool row, or the one after it that follows it nearest, or nothing.
  [[nodiscard]] std::optional<std::uint64_t> MatchAtOrAfter(std::uint64_t spoolIndex) const;

 private:
  RowFilter(RowSpool::Reader rows, std::shared_ptr<const RowMatcher> matcher, std::unique_ptr<MappedFile> index);
  void Run();

  const RowSpool::Reader rows_;
  const std::shared_ptr<const RowMatcher> matcher_;
  std::unique_ptr<MappedFile> index_;
  std::atomic<std::uint64_t> matches_{0};
  std::atomic<std::uint64_t> lookedAt_{0};
  std::atomic<std::uint64_t> notKept_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace orvanel
