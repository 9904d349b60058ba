// Which local program owns one end of a TCP or UDP conversation: the socket
// from the kernel's socket diagnostics, its holder from /proc.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "capture/conversation_program.h"
#include "net/socket_diag.h"

namespace orvanel {

// One end of a conversation at an address of this machine (ports in host order).
struct LocalEndpoint {
  std::uint8_t protocol = 0;  // 6 or 17
  std::uint32_t localAddress = 0;
  std::uint16_t localPort = 0;
  std::uint32_t remoteAddress = 0;
  std::uint16_t remotePort = 0;

  bool operator==(const LocalEndpoint&) const = default;
};

// The TCP and UDP sockets at one moment.
class SocketSnapshot {
 public:
  // The sockets of the protocols asked for (6, 17), only: a TCP dump walks
  // the kernel's whole table of connections, milliseconds on a large
  // machine. Nothing when the kernel cannot be asked.
  static std::optional<SocketSnapshot> Take(std::span<const std::uint8_t> protocols);
  explicit SocketSnapshot(const std::vector<std::pair<std::uint8_t, SocketEntry>>& sockets);

  // The socket that owns the endpoint now: the one connected to its far
  // end, else the one bound to its port at its address or at any address.
  // None when there is none, or when several sockets share it.
  std::optional<SocketEntry> Owner(const LocalEndpoint& endpoint) const;
  bool Holds(std::uint64_t inode) const;

 private:
  struct KeyHash {
    std::size_t operator()(const LocalEndpoint& key) const;
  };
  std::unordered_map<LocalEndpoint, std::optional<SocketEntry>, KeyHash> byEndpoint_;  // none: shared
  std::unordered_set<std::uint64_t> inodes_;
};

// The program of each owner socket: the process that holds it, else its
// user's text; none for a socket no longer in /proc and without an owner.
std::unordered_map<std::uint64_t, ConversationProgram> ProgramsOf(const std::vector<SocketEntry>& owners);

}  // namespace orvanel
