#include "capture/time_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace orvanel {

TimeText LocalTimeText(std::int64_t nanoseconds) {
  TimeText made;
  if (nanoseconds == 0) return made;
  // Whole seconds down, so that a time before 1970 keeps a positive fraction.
  std::int64_t seconds = nanoseconds / 1'000'000'000;
  std::int64_t rest = nanoseconds % 1'000'000'000;
  if (rest < 0) {
    rest += 1'000'000'000;
    --seconds;
  }
  const auto time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (!localtime_r(&time, &local)) return made;
  const int written = std::snprintf(made.text_.data(), made.text_.size(), "%04d-%02d-%02d %02d:%02d:%02d.%06d",
                                    local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                    local.tm_sec, static_cast<int>(rest / 1000));
  if (written > 0) made.length_ = std::min(static_cast<std::size_t>(written), made.text_.size() - 1);
  return made;
}

}  // namespace orvanel
