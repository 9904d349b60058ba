#include "net/channel_message.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvanel {

bool SendChannelMessage(int channel, std::span<const std::uint8_t> bytes, int fd) {
  iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  ssize_t sent;
  do {
    sent = sendmsg(channel, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(bytes.size());
}

ChannelMessage ReceiveChannelMessage(int channel, std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
  pollfd waiting{channel, POLLIN, 0};
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    const int ready = poll(&waiting, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (ready > 0) break;
    if (ready == 0 || errno != EINTR) return {};
  }
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
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
  int passed = 0;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i, ++passed) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
      received.fd.reset(fd);  // keeps the last; the others close here
    }
  }
  received.truncated = passed > 1 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
  return received;
}

}  // namespace orvanel
