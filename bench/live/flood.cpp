// A bounded loopback flood: COUNT UDP datagrams of 64 bytes, sent with
// sendmmsg to a port that a socket of ours holds open without reading.
// Prints the send rate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr long kMaxCount = 100'000'000;
constexpr auto kTimeLimit = std::chrono::seconds(120);
constexpr int kBatch = 256;
constexpr std::size_t kPayload = 64;

int Usage() {
  std::fprintf(stderr, "usage: orvanel_flood COUNT [PORT]   (1 <= COUNT <= %ld, to 127.0.0.1)\n", kMaxCount);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) return Usage();
  char* end = nullptr;
  const long count = std::strtol(argv[1], &end, 10);
  if (*end || count < 1 || count > kMaxCount) return Usage();
  const long port = argc == 3 ? std::strtol(argv[2], &end, 10) : 0;
  if (*end || port < 0 || port > 65535) return Usage();

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<std::uint16_t>(port));
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int sink = socket(AF_INET, SOCK_DGRAM, 0);
  socklen_t length = sizeof target;
  if (sink < 0 || bind(sink, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 ||
      getsockname(sink, reinterpret_cast<sockaddr*>(&target), &length) != 0) {
    std::perror("orvanel_flood: sink");
    return 1;
  }
  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  if (sender < 0 || connect(sender, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    std::perror("orvanel_flood: sender");
    return 1;
  }

  std::array<char, kPayload> payload{};
  iovec data{payload.data(), payload.size()};
  std::array<mmsghdr, kBatch> messages{};
  for (mmsghdr& message : messages) {
    message.msg_hdr.msg_iov = &data;
    message.msg_hdr.msg_iovlen = 1;
  }

  long sent = 0;
  const auto start = std::chrono::steady_clock::now();
  while (sent < count && std::chrono::steady_clock::now() - start < kTimeLimit) {
    const auto batch = static_cast<unsigned>(std::min<long>(kBatch, count - sent));
    const int result = sendmmsg(sender, messages.data(), batch, 0);
    if (result > 0) sent += result;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("sent %ld datagrams in %.3f s\nrate %.0f\n", sent, seconds, sent / seconds);
  close(sender);
  close(sink);
  return sent == count ? 0 : 1;
}
