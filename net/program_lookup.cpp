#include "net/program_lookup.h"

#include <functional>

#include "net/socket_owners.h"

namespace orvanel {

std::size_t SocketSnapshot::KeyHash::operator()(const LocalEndpoint& key) const {
  const std::uint64_t local = std::uint64_t{key.localAddress} << 24 | std::uint64_t{key.localPort} << 8 | key.protocol;
  const std::uint64_t remote = std::uint64_t{key.remoteAddress} << 16 | key.remotePort;
  return std::hash<std::uint64_t>{}(local) ^ (std::hash<std::uint64_t>{}(remote)*0x9E3779B97F4A7C15ull);
}

std::optional<SocketSnapshot> SocketSnapshot::Take(std::span<const std::uint8_t> protocols) {
  std::vector<std::pair<std::uint8_t, SocketEntry>> sockets;
  for (const std::uint8_t protocol : protocols) {
    const auto dumped = DumpSockets(protocol);
    if (!dumped) return std::nullopt;
    for (const SocketEntry& entry : *dumped) sockets.emplace_back(protocol, entry);
  }
  return SocketSnapshot(sockets);
}

SocketSnapshot::SocketSnapshot(const std::vector<std::pair<std::uint8_t, SocketEntry>>& sockets) {
  for (const auto& [protocol, entry] : sockets) {
    inodes_.insert(entry.inode);
    const LocalEndpoint key{protocol, entry.localAddress, entry.localPort, entry.remoteAddress, entry.remotePort};
    const auto [place, added] = byEndpoint_.try_emplace(key, entry);
    // Sockets sharing an endpoint (SO_REUSEPORT) may belong to different programs.
    if (!added) place->second.reset();
  }
}

std::optional<SocketEntry> SocketSnapshot::Owner(const LocalEndpoint& endpoint) const {
  const LocalEndpoint keys[] = {
      endpoint,
      {endpoint.protocol, endpoint.localAddress, endpoint.localPort, 0, 0},
      {endpoint.protocol, 0, endpoint.localPort, 0, 0},
  };
  for (const LocalEndpoint& key : keys) {
    const auto found = byEndpoint_.find(key);
    if (found != byEndpoint_.end()) return found->second;
  }
  return std::nullopt;
}

bool SocketSnapshot::Holds(std::uint64_t inode) const { return inodes_.contains(inode); }

std::unordered_map<std::uint64_t, ConversationProgram> ProgramsOf(const std::vector<SocketEntry>& owners) {
  std::unordered_set<std::uint64_t> inodes;
  for (const SocketEntry& owner : owners) inodes.insert(owner.inode);
  std::unordered_map<std::uint64_t, ConversationProgram> programs = SocketHolders(inodes);
  for (const SocketEntry& owner : owners) {
    if (!programs.contains(owner.inode)) programs[owner.inode] = {UserText(owner.uid), 0};
  }
  return programs;
}

}  // namespace orvanel
