// A bounded loopback flood: COUNT UDP datagrams with PAYLOAD bytes each (64
// unless given), sent with sendmmsg to a port that a socket of ours holds open
// without reading, at RATE datagrams a second (as fast as it can unless given).
// With "spread", each datagram comes from a random address of 127.0.0.0/8 and
// a random port, so that nearly every one is a conversation of its own (a raw
// socket writes the headers: root). Prints the send rate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long kMaxCount = 100'000'000;
constexpr auto kTimeLimit = std::chrono::seconds(180);
constexpr int kBatch = 256;
constexpr long kDefaultPayload = 64;
constexpr long kMaxPayload = 65000;

int Usage() {
  std::fprintf(stderr,
               "usage: orvanel_flood COUNT [PORT [PAYLOAD [RATE [spread]]]]   (1 <= COUNT <= %ld, to 127.0.0.1; "
               "PORT 0 picks one; RATE 0 is as fast as it can)\n",
               kMaxCount);
  return 2;
}

// A whole-number argument within [low, high], or -1.
long Argument(int argc, char** argv, int index, long fallback, long low, long high) {
  if (index >= argc) return fallback;
  char* end = nullptr;
  const long value = std::strtol(argv[index], &end, 10);
  return *end || value < low || value > high ? -1 : value;
}

// Headers and payload of one datagram from a random sender to target.
std::vector<char> SpreadDatagram(std::mt19937& random, const sockaddr_in& target, std::size_t payload) {
  std::vector<char> datagram(sizeof(iphdr) + sizeof(udphdr) + payload, 'x');
  iphdr ip{};
  ip.version = 4;
  ip.ihl = 5;
  ip.ttl = 64;
  ip.protocol = IPPROTO_UDP;
  ip.tot_len = htons(static_cast<std::uint16_t>(datagram.size()));
  ip.saddr = htonl((127u << 24) | (random() & 0xFFFFFF));
  ip.daddr = target.sin_addr.s_addr;
  udphdr udp{};
  udp.source = htons(static_cast<std::uint16_t>(1024 + random() % 64512));
  udp.dest = target.sin_port;
  udp.len = htons(static_cast<std::uint16_t>(sizeof(udphdr) + payload));
  std::memcpy(datagram.data(), &ip, sizeof ip);
  std::memcpy(datagram.data() + sizeof ip, &udp, sizeof udp);
  return datagram;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 6) return Usage();
  const bool spread = argc == 6 && std::string(argv[5]) == "spread";
  if (argc == 6 && !spread) return Usage();
  const long count = Argument(argc, argv, 1, 0, 1, kMaxCount);
  const long port = Argument(argc, argv, 2, 0, 0, 65535);
  const long payloadBytes = Argument(argc, argv, 3, kDefaultPayload, 0, kMaxPayload);
  const long rate = Argument(argc, argv, 4, 0, 0, 100'000'000);
  if (count < 0 || port < 0 || payloadBytes < 0 || rate < 0) return Usage();

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
  // A raw socket sends the headers it is given (IP_HDRINCL is implied).
  const int sender = spread ? socket(AF_INET, SOCK_RAW, IPPROTO_RAW) : socket(AF_INET, SOCK_DGRAM, 0);
  if (sender < 0 || connect(sender, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    std::perror("orvanel_flood: sender");
    return 1;
  }

  std::vector<char> payload(static_cast<std::size_t>(payloadBytes), 'x');
  std::mt19937 random(1);
  std::array<std::vector<char>, kBatch> datagrams;
  std::array<iovec, kBatch> data{};
  std::array<mmsghdr, kBatch> messages{};
  for (int i = 0; i < kBatch; ++i) {
    data[i] = {payload.data(), payload.size()};
    messages[i].msg_hdr.msg_iov = &data[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }

  long sent = 0;
  const auto start = std::chrono::steady_clock::now();
  // Paced: batches of a millisecond's worth, each sent once its time has come.
  const long batchLimit = rate == 0 ? kBatch : std::clamp<long>(rate / 1000, 1, kBatch);
  while (sent < count && std::chrono::steady_clock::now() - start < kTimeLimit) {
    if (rate != 0)
      std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(sent) / rate));
    const auto batch = static_cast<unsigned>(std::min<long>(batchLimit, count - sent));
    for (unsigned i = 0; spread && i < batch; ++i) {
      datagrams[i] = SpreadDatagram(random, target, payload.size());
      data[i] = {datagrams[i].data(), datagrams[i].size()};
    }
    const int result = sendmmsg(sender, messages.data(), batch, 0);
    if (result > 0) sent += result;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("sent %ld datagrams in %.3f s\nrate %.0f\n", sent, seconds, sent / seconds);
  close(sender);
  close(sink);
  return sent == count ? 0 : 1;
}
