// A capture time as text: local time to the microsecond,
// "2024-05-01 13:45:07.123456", as the list's time column and
// orvanel-cli --time show it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orvanel {

class TimeText {
 public:
  [[nodiscard]] std::string_view View() const { return {text_.data(), length_}; }

 private:
  friend TimeText LocalTimeText(std::int64_t nanoseconds);
  std::array<char, 48> text_{};
  std::size_t length_ = 0;
};

// Empty for 0, a time not known.
TimeText LocalTimeText(std::int64_t nanoseconds);

}  // namespace orvanel
