#include "net/socket_diag.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "capture/unique_fd.h"

namespace orvanel {
namespace {

struct DumpRequest {
  nlmsghdr header;
  inet_diag_req_v2 request;
};

std::uint16_t HostPort(std::uint16_t networkPort) { return ntohs(networkPort); }

}  // namespace

std::optional<std::vector<SocketEntry>> DumpSockets(std::uint8_t protocol) {
  const UniqueFd diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!diag.valid()) return std::nullopt;
  DumpRequest dump{};
  dump.header.nlmsg_len = sizeof dump;
  dump.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  dump.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  dump.request.sdiag_family = AF_INET;
  dump.request.sdiag_protocol = protocol;
  dump.request.idiag_states = ~0u;  // every state; TIME_WAIT ones have no inode and are skipped
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(diag.get(), &dump, sizeof dump, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof dump)) {
    return std::nullopt;
  }

  std::vector<SocketEntry> sockets;
  alignas(nlmsghdr) char buffer[32768];
  for (;;) {
    const ssize_t got = recv(diag.get(), buffer, sizeof buffer, 0);
    if (got <= 0) return std::nullopt;
    std::size_t left = static_cast<std::size_t>(got);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_DONE) return sockets;
      if (message->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY || message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        continue;
      }
      inet_diag_msg entry;
      std::memcpy(&entry, NLMSG_DATA(message), sizeof entry);
      if (entry.idiag_family != AF_INET || entry.idiag_inode == 0) continue;
      sockets.push_back({entry.id.idiag_src[0], entry.id.idiag_dst[0], HostPort(entry.id.idiag_sport),
                         HostPort(entry.id.idiag_dport), entry.idiag_inode, entry.idiag_uid});
    }
  }
}

}  // namespace orvanel
