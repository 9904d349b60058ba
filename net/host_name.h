// The machine's host name.
#pragma once

#include <optional>
#include <string>

namespace orvanel {

// Any legal host name, up to HOST_NAME_MAX bytes; nothing when the call fails.
std::optional<std::string> LocalHostName();

}  // namespace orvanel
