// The machine's TCP and UDP sockets of this network namespace as the
// kernel's socket diagnostics (NETLINK_SOCK_DIAG) list them; no privilege
// is needed.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvanel {

struct SocketEntry {
  std::uint32_t localAddress = 0;   // address octets in header order; 0: any
  std::uint32_t remoteAddress = 0;  // 0: not connected
  std::uint16_t localPort = 0;
  std::uint16_t remotePort = 0;
  std::uint64_t inode = 0;  // 0: no process holds it (e.g. TIME_WAIT)
  std::uint32_t uid = 0;
};

// The IPv4 sockets of the protocol (6 or 17); nothing when the kernel
// cannot be asked.
std::optional<std::vector<SocketEntry>> DumpSockets(std::uint8_t protocol);

}  // namespace orvanel
