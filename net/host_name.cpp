#include "net/host_name.h"

#include <unistd.h>

#include <array>
#include <climits>

namespace orvanel {

std::optional<std::string> LocalHostName() {
  std::array<char, HOST_NAME_MAX + 1> name{};
  if (gethostname(name.data(), name.size()) != 0) return std::nullopt;
  name.back() = '\0';  // a truncated name need not be terminated
  return std::string(name.data());
}

}  // namespace orvanel
