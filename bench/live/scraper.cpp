// Scrapes a metrics endpoint as Prometheus would, at a fixed period, each
// scrape on a new connection, until COUNT scrapes, SIGINT or SIGTERM (or an
// hour); then prints how many scrapes were answered with 200, how many were
// not, and the median and longest time a scrape took.
//   orvanel_scraper HOST PORT PERIOD_MS [COUNT [CA CERT KEY]]
// With CA, CERT and KEY: over HTTPS, with that client certificate.
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto kTimeLimit = std::chrono::hours(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5 && argc != 8) {
    std::fprintf(stderr, "usage: orvanel_scraper HOST PORT PERIOD_MS [COUNT [CA CERT KEY]]\n");
    return 2;
  }
  const auto period = std::chrono::milliseconds(std::atoi(argv[3]));
  const long count = argc > 4 ? std::atol(argv[4]) : 0;
  const bool tls = argc == 8;
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Client client(std::string(tls ? "https://" : "http://") + argv[1] + ":" + argv[2], tls ? argv[6] : "",
                         tls ? argv[7] : "");
  if (tls) client.set_ca_cert_path(argv[5]);
  client.set_tcp_nodelay(true);  // as Prometheus's (Go's) connections are
  // Counted scrapes wait long enough to show how long a slow one takes.
  const auto timeout = std::chrono::seconds(count > 0 ? 10 : 1);
  client.set_connection_timeout(timeout);
  client.set_read_timeout(timeout);
  long answered = 0, failed = 0;
  std::vector<double> milliseconds;
  const auto start = std::chrono::steady_clock::now();
  for (auto next = start; next - start < kTimeLimit && (count == 0 || answered + failed < count); next += period) {
    const auto before = std::chrono::steady_clock::now();
    const httplib::Result result = client.Get("/metrics");
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count());
    ++(result && result->status == 200 ? answered : failed);
    const auto wait =
        std::chrono::duration_cast<std::chrono::nanoseconds>(next + period - std::chrono::steady_clock::now());
    const long nanoseconds = std::max<long>(0, wait.count());
    const timespec timeout{nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000};
    if (sigtimedwait(&stopSignals, nullptr, &timeout) > 0) break;
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  const double median = milliseconds.empty() ? 0 : milliseconds[(milliseconds.size() - 1) / 2];
  std::printf("scrapes %ld\nfailed %ld\nmedian_ms %.3f\nmax_ms %.3f\n", answered, failed, median,
              milliseconds.empty() ? 0 : milliseconds.back());
  return 0;
}
