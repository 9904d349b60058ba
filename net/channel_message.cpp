#include "net/channel_message.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvanel {

bool SendChannelMessage(int channel, std::span<const std::uint8_t> bytes, std::span<const int> fds) {
  if (fds.size() > kMaxPassedFds) return false;
  iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxPassedFds)] = {};
  if (!fds.empty()) {
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(fds.size_bytes());
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(fds.size_bytes());
    std::memcpy(CMSG_DATA(header), fds.data(), fds.size_bytes());
  }
  ssize_t sent;
  do {
    sent = sendmsg(channel, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(bytes.size());
}

ChannelMessage ReceiveChannelMessage(int channel, std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
  pollfd waiting{channel, POLLIN, 0};
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto left =
        limit - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const int timeout = limit == kWaitForever ? -1 : static_cast<int>(std::max<long long>(left.count(), 0));
    const int ready = poll(&waiting, 1, timeout);
    if (ready > 0) break;
    if (ready == 0 || errno != EINTR) return {};
  }
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * (kMaxPassedFds + 2))];
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ChannelMessage received;
  do {
    received.length = recvmsg(channel, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  } while (received.length < 0 && errno == EINTR);
  if (received.length < 0) return received;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
      received.fds.emplace_back(fd);
    }
  }
  received.truncated = received.fds.size() > kMaxPassedFds || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
  return received;
}

}  // namespace orvanel
