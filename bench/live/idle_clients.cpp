// Holds idle (or slowloris) connections to a local port from many loopback
// addresses, opening each again as soon as the server closes it, until
// SIGINT or SIGTERM; then prints how many were opened again.
//   orvanel_idle_clients PORT FIRST_ADDRESS ADDRESSES PER_ADDRESS idle|slow
// The addresses count up from FIRST_ADDRESS (e.g. 127.0.1.1).
#include <arpa/inet.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/idle_clients.h"

int main(int argc, char** argv) {
  in_addr first{};
  if (argc != 6 || inet_pton(AF_INET, argv[2], &first) != 1 ||
      (std::string_view(argv[5]) != "idle" && std::string_view(argv[5]) != "slow")) {
    std::fprintf(stderr, "usage: orvanel_idle_clients PORT FIRST_ADDRESS ADDRESSES PER_ADDRESS idle|slow\n");
    return 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::vector<std::string> sources;
  for (int i = 0; i < std::atoi(argv[3]); ++i) {
    const in_addr address{htonl(ntohl(first.s_addr) + i)};
    char text[INET_ADDRSTRLEN];
    sources.emplace_back(inet_ntop(AF_INET, &address, text, sizeof text));
  }
  long reconnects = 0;
  {
    const orvanel::test::IdleClients clients(sources, std::atoi(argv[4]),
                                             static_cast<std::uint16_t>(std::atoi(argv[1])),
                                             std::string_view(argv[5]) == "slow");
    int signal = 0;
    sigwait(&stopSignals, &signal);
    reconnects = clients.Reconnects();
  }
  std::printf("reconnects %ld\n", reconnects);
  return 0;
}
