// Scrapes a metrics endpoint as Prometheus would, at a fixed period, until
// SIGINT or SIGTERM (or an hour); then prints how many scrapes were answered
// with 200 and how many were not.
//   orvanel_scraper HOST PORT PERIOD_MS
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr auto kTimeLimit = std::chrono::hours(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: orvanel_scraper HOST PORT PERIOD_MS\n");
    return 2;
  }
  const int port = std::atoi(argv[2]);
  const auto period = std::chrono::milliseconds(std::atoi(argv[3]));
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Client client(argv[1], port);
  client.set_connection_timeout(std::chrono::seconds(1));
  client.set_read_timeout(std::chrono::seconds(1));
  long answered = 0, failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto next = start; next - start < kTimeLimit; next += period) {
    const httplib::Result result = client.Get("/metrics");
    ++(result && result->status == 200 ? answered : failed);
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next + period - std::chrono::steady_clock::now());
    const long nanoseconds = std::max<long>(0, wait.count());
    const timespec timeout{nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000};
    if (sigtimedwait(&stopSignals, nullptr, &timeout) > 0) break;
  }
  std::printf("scrapes %ld\nfailed %ld\n", answered, failed);
  return 0;
}
