#include "tests/support/idle_clients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

namespace orvanel::test {

UniqueFd ConnectFrom(const std::string& source, std::uint16_t port) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!socket.valid() || inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
      bind(socket.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      (connect(socket.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
    return UniqueFd();
  }
  return socket;
}

IdleClients::IdleClients(const std::vector<std::string>& sources, int perSource, std::uint16_t port, bool slow)
    : thread_([=, this] { Hold(sources, perSource, port, slow); }) {}

IdleClients::~IdleClients() {
  stop_ = true;
  thread_.join();
}

void IdleClients::Hold(const std::vector<std::string>& sources, int perSource, std::uint16_t port, bool slow) {
  // A head that never ends: a header line that grows a byte at a time.
  static constexpr char kHead[] = "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Slow: ";
  struct Held {
    const std::string* source;
    UniqueFd socket;
    std::size_t sent = 0;
  };
  std::vector<Held> held;
  for (const std::string& source : sources) {
    for (int i = 0; i < perSource; ++i) held.push_back({&source, ConnectFrom(source, port)});
  }
  std::vector<pollfd> polled(held.size());
  auto nextByte = std::chrono::steady_clock::now();
  while (!stop_) {
    for (std::size_t i = 0; i < held.size(); ++i) polled[i] = {held[i].socket.get(), POLLIN, 0};
    poll(polled.data(), polled.size(), 50);
    const bool sendNow = slow && std::chrono::steady_clock::now() >= nextByte;
    if (sendNow) nextByte += std::chrono::seconds(1);
    for (std::size_t i = 0; i < held.size(); ++i) {
      Held& client = held[i];
      if (polled[i].revents != 0) {
        client = {client.source, ConnectFrom(*client.source, port)};
        ++reconnects_;
      } else if (sendNow && client.socket.valid()) {
        const char byte = client.sent < sizeof kHead - 1 ? kHead[client.sent] : 'a';
        if (send(client.socket.get(), &byte, 1, MSG_NOSIGNAL) == 1) ++client.sent;
      }
    }
  }
}

}  // namespace orvanel::test
