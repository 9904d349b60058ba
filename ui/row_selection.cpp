#include "ui/row_selection.h"

#include <algorithm>

namespace orvanel {
namespace {

// The first range that ends at or after ordinal.
template <typename Ranges>
auto EndingAtOrAfter(Ranges& ranges, std::uint64_t ordinal) {
  return std::lower_bound(ranges.begin(), ranges.end(), ordinal,
                          [](const RowSelection::Range& range, std::uint64_t value) { return range.last < value; });
}

}  // namespace

std::uint64_t RowSelection::Rows() const {
  std::uint64_t rows = 0;
  for (const Range& range : ranges_) rows += range.last - range.first + 1;
  return rows;
}

bool RowSelection::Contains(std::uint64_t ordinal) const {
  const auto range = EndingAtOrAfter(ranges_, ordinal);
  return range != ranges_.end() && range->first <= ordinal;
}

void RowSelection::SelectOnly(std::uint64_t from, std::uint64_t to) {
  ranges_.assign(1, Range{std::min(from, to), std::max(from, to)});
}

bool RowSelection::Add(Range range) {
  // Ranges that touch or overlap it become one with it.
  auto begin = EndingAtOrAfter(ranges_, range.first == 0 ? 0 : range.first - 1);
  auto end = begin;
  while (end != ranges_.end() && (range.last == UINT64_MAX || end->first <= range.last + 1)) {
    range.first = std::min(range.first, end->first);
    range.last = std::max(range.last, end->last);
    ++end;
  }
  if (begin == end && ranges_.size() >= kMaxRanges) return false;
  ranges_.insert(ranges_.erase(begin, end), range);
  return true;
}

bool RowSelection::Toggle(std::uint64_t ordinal) {
  const auto range = EndingAtOrAfter(ranges_, ordinal);
  if (range == ranges_.end() || range->first > ordinal) return Add({ordinal, ordinal});
  const Range was = *range;
  if (was.first < ordinal && ordinal < was.last) {  // split in two
    if (ranges_.size() >= kMaxRanges) return false;
    range->last = ordinal - 1;
    ranges_.insert(range + 1, Range{ordinal + 1, was.last});
  } else if (was.first == was.last) {
    ranges_.erase(range);
  } else if (was.first == ordinal) {
    range->first = ordinal + 1;
  } else {
    range->last = ordinal - 1;
  }
  return true;
}

void RowSelection::Set(std::vector<Range> ranges) {
  ranges_.clear();
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  for (const Range& range : ranges) Add(range);
}

}  // namespace orvanel
