// What the dialog asks of the machine at start-up; tests may substitute them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvanel {

struct HostQueries {
  std::function<std::optional<std::string>()> hostName;
  // Dotted addresses in combo-box order; nothing when the list cannot be read.
  std::function<std::optional<std::vector<std::string>>()> addresses;
};

// The real queries of the net layer.
HostQueries SystemHostQueries();

}  // namespace orvanel
