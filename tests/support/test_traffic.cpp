#include "tests/support/test_traffic.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>

namespace orvanel::test {
namespace {

sockaddr_in Endpoint(const std::string& address, std::uint16_t port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
  return endpoint;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  return ntohs(bound.sin_port);
}

UniqueFd BoundSocket(int type, const std::string& address) {
  UniqueFd fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
  const sockaddr_in endpoint = Endpoint(address, 0);
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) != 0) fd.reset();
  return fd;
}

bool ReadExactly(int fd, std::size_t length) {
  std::vector<char> data(length);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = recv(fd, data.data() + got, length - got, 0);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2) sum += static_cast<std::uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return htons(static_cast<std::uint16_t>(~sum));
}

}  // namespace

UdpEndpoint BindUdp(const std::string& address) {
  UdpEndpoint endpoint;
  endpoint.socket = BoundSocket(SOCK_DGRAM, address);
  if (endpoint.socket.valid()) endpoint.port = LocalPort(endpoint.socket.get());
  return endpoint;
}

bool SendUdp(const UdpEndpoint& from, const std::string& to, std::uint16_t port, std::string_view payload) {
  const sockaddr_in endpoint = Endpoint(to, port);
  return sendto(from.socket.get(), payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&endpoint),
                sizeof endpoint) == static_cast<ssize_t>(payload.size());
}

TcpExchange ExchangeTcp(const std::string& address, const std::vector<std::string>& messages,
                        const std::string& reply) {
  TcpExchange exchange;
  const UniqueFd listener = BoundSocket(SOCK_STREAM, address);
  if (!listener.valid() || listen(listener.get(), 1) != 0) return exchange;
  exchange.serverPort = LocalPort(listener.get());
  UniqueFd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const sockaddr_in server = Endpoint(address, exchange.serverPort);
  if (connect(client.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) return exchange;
  exchange.clientPort = LocalPort(client.get());
  UniqueFd accepted(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  std::size_t total = 0;
  for (const std::string& message : messages) {
    // Waiting for each message keeps the writes in separate segments.
    if (send(client.get(), message.data(), message.size(), 0) != static_cast<ssize_t>(message.size())) return exchange;
    if (!ReadExactly(accepted.get(), message.size())) return exchange;
    total += message.size();
  }
  if (send(accepted.get(), reply.data(), reply.size(), 0) != static_cast<ssize_t>(reply.size())) return exchange;
  if (!ReadExactly(client.get(), reply.size())) return exchange;
  client.reset();
  char end;
  exchange.ok = total > 0 && recv(accepted.get(), &end, 1, 0) == 0;  // the client's FIN arrived
  return exchange;
}

bool SendEchoes(const std::string& to, int count) {
  const UniqueFd fd(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!fd.valid()) return false;
  const sockaddr_in endpoint = Endpoint(to, 0);
  for (int sequence = 0; sequence < count; ++sequence) {
    std::uint8_t message[16] = {ICMP_ECHO, 0,   0,   0,   0x4f, 0x52, 0,   static_cast<std::uint8_t>(sequence),
                                'o',       'r', 'v', 'a', 'n',  'e',  'l', 0};
    const std::uint16_t checksum = InternetChecksum(message, sizeof message);
    std::memcpy(message + 2, &checksum, sizeof checksum);
    if (sendto(fd.get(), message, sizeof message, 0, reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) !=
        static_cast<ssize_t>(sizeof message)) {
      return false;
    }
  }
  return true;
}

bool SendFrameToStranger(const std::string& interface, const std::string& source, const std::string& destination,
                         std::string_view payload, std::string_view linkPadding) {
  const UniqueFd fd(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
  const unsigned index = if_nametoindex(interface.c_str());
  if (!fd.valid() || index == 0) return false;
  constexpr std::uint8_t kStranger[ETH_ALEN] = {0x02, 0, 0, 0, 0, 0x99};
  constexpr std::uint8_t kSender[ETH_ALEN] = {0x02, 0, 0, 0, 0, 0x98};
  std::vector<std::uint8_t> frame(14 + 20 + 8);
  std::memcpy(&frame[0], kStranger, ETH_ALEN);
  std::memcpy(&frame[6], kSender, ETH_ALEN);
  frame[12] = 0x08;  // IPv4
  std::uint8_t* ip = &frame[14];
  const auto ipLength = static_cast<std::uint16_t>(20 + 8 + payload.size());
  ip[0] = 0x45;
  ip[2] = static_cast<std::uint8_t>(ipLength >> 8);
  ip[3] = static_cast<std::uint8_t>(ipLength);
  ip[8] = 64;
  ip[9] = IPPROTO_UDP;
  inet_pton(AF_INET, source.c_str(), ip + 12);
  inet_pton(AF_INET, destination.c_str(), ip + 16);
  const std::uint16_t checksum = InternetChecksum(ip, 20);
  std::memcpy(ip + 10, &checksum, sizeof checksum);
  std::uint8_t* udp = ip + 20;
  const auto udpLength = static_cast<std::uint16_t>(8 + payload.size());
  udp[0] = 0x30;  // ports 12345 -> 12346
  udp[1] = 0x39;
  udp[2] = 0x30;
  udp[3] = 0x3a;
  udp[4] = static_cast<std::uint8_t>(udpLength >> 8);
  udp[5] = static_cast<std::uint8_t>(udpLength);
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.insert(frame.end(), linkPadding.begin(), linkPadding.end());

  sockaddr_ll link{};
  link.sll_family = AF_PACKET;
  link.sll_ifindex = static_cast<int>(index);
  link.sll_halen = ETH_ALEN;
  std::memcpy(link.sll_addr, kStranger, ETH_ALEN);
  return sendto(fd.get(), frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&link), sizeof link) ==
         static_cast<ssize_t>(frame.size());
}

}  // namespace orvanel::test
