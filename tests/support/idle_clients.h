// Clients that take connections to a server and keep them, as an attacker
// would: idle, or sending a request head one byte a second (slowloris). A
// connection the server closes is opened again at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "capture/unique_fd.h"

namespace orvanel::test {

// A nonblocking TCP connection from the IPv4 address source to 127.0.0.1:port,
// under way or made; invalid when it cannot start.
UniqueFd ConnectFrom(const std::string& source, std::uint16_t port);

class IdleClients {
 public:
  // perSource connections from each of sources, held until destruction.
  IdleClients(const std::vector<std::string>& sources, int perSource, std::uint16_t port, bool slow = false);
  ~IdleClients();
  IdleClients(const IdleClients&) = delete;
  IdleClients& operator=(const IdleClients&) = delete;

  // Connections opened again after the server closed them.
  [[nodiscard]] long Reconnects() const { return reconnects_; }

 private:
  void Hold(const std::vector<std::string>& sources, int perSource, std::uint16_t port, bool slow);

  std::atomic<bool> stop_ = false;
  std::atomic<long> reconnects_ = 0;
  std::thread thread_;
};

}  // namespace orvanel::test
