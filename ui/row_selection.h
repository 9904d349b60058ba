// The selected rows of the packet list as ranges of ordinals: a run of rows
// costs one range whatever its length, so selecting every row of a list of
// millions keeps nothing per row. Ranges are disjoint, apart and in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvanel {

class RowSelection {
 public:
  struct Range {
    std::uint64_t first;
    std::uint64_t last;  // inclusive
    friend bool operator==(const Range&, const Range&) = default;
  };
  // Each Ctrl+click may split a range: their number is held to this.
  static constexpr std::size_t kMaxRanges = 10'000;

  [[nodiscard]] bool Empty() const { return ranges_.empty(); }
  [[nodiscard]] const std::vector<Range>& Ranges() const { return ranges_; }
  [[nodiscard]] std::uint64_t Rows() const;
  [[nodiscard]] bool Contains(std::uint64_t ordinal) const;

  void Clear() { ranges_.clear(); }
  // Only the rows from one ordinal to another, in either order.
  void SelectOnly(std::uint64_t from, std::uint64_t to);
  // Adds ranges or one row; false when that would pass kMaxRanges.
  bool Add(Range range);
  // Adds the row, or takes it out when selected; false when that would pass kMaxRanges.
  bool Toggle(std::uint64_t ordinal);
  void Set(std::vector<Range> ranges);

 private:
  std::vector<Range> ranges_;
};

}  // namespace orvanel
