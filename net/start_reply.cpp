#include "net/start_reply.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orvanel {
namespace {

struct Reply {
  std::uint32_t magic;
  std::int32_t result;
  std::int32_t error;  // errno of the failed step, 0 when none
};
constexpr std::uint32_t kMagic = 0x4f525653;  // "ORVS"

bool IsStartResult(std::int32_t value) {
  return value >= static_cast<std::int32_t>(StartResult::Started) &&
         value <= static_cast<std::int32_t>(StartResult::ReceiveModeFailed);
}

bool IsErrno(std::int32_t value) { return value >= 0 && value < 4096; }

bool IsPacketSocket(int fd) {
  int domain = 0;
  socklen_t length = sizeof domain;
  return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_PACKET;
}

CaptureSocket Fail() { return {StartResult::SocketCreationFailed, UniqueFd()}; }

}  // namespace

bool SendStartReply(int channel, const CaptureSocket& opened) {
  Reply reply{kMagic, static_cast<std::int32_t>(opened.result), opened.error};
  iovec data{&reply, sizeof reply};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (opened.result == StartResult::Started) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int fd = opened.socket.get();
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  ssize_t sent;
  do {
    sent = sendmsg(channel, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(sizeof reply);
}

CaptureSocket ReceiveStartReply(int channel, std::chrono::milliseconds limit) {
  pollfd waiting{channel, POLLIN, 0};
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    const int ready = poll(&waiting, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (ready > 0) break;
    if (ready == 0 || errno != EINTR) return Fail();
  }

  // One byte more than a reply, so a longer message shows as one.
  char data[sizeof(Reply) + 1];
  iovec buffer{data, sizeof data};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
  msghdr message{};
  message.msg_iov = &buffer;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received;
  do {
    received = recvmsg(channel, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  } while (received < 0 && errno == EINTR);

  // Take every passed descriptor first, so none is left open whatever the verdict.
  UniqueFd passed;
  int passedCount = 0;
  if (received >= 0) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
      const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
        passed.reset(fd);  // keeps the last; the others close here
        ++passedCount;
      }
    }
  }
  Reply reply;
  if (received != static_cast<ssize_t>(sizeof reply) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) return Fail();
  std::memcpy(&reply, data, sizeof reply);
  if (reply.magic != kMagic || !IsStartResult(reply.result) || !IsErrno(reply.error)) return Fail();
  const auto result = static_cast<StartResult>(reply.result);
  if (result != StartResult::Started) return passedCount == 0 ? CaptureSocket{result, UniqueFd(), reply.error} : Fail();
  if (passedCount != 1 || !IsPacketSocket(passed.get())) return Fail();
  return {StartResult::Started, std::move(passed)};
}

}  // namespace orvanel
