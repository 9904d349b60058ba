// How long Start and Stop take on an idle address: Stop must wake a thread
// that waits for packets which never come.
//   stop_latency_bench ADDRESS [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/live/counting_session.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 50;
  if (argc < 2 || argc > 3 || rounds < 1 || rounds > 10000) {
    std::fprintf(stderr, "usage: stop_latency_bench ADDRESS [ROUNDS]\n");
    return 2;
  }
  orvanel::bench::CountingSession counting;
  orvanel::CaptureSession& session = counting.session;
  std::vector<double> starts, stops;
  for (int round = 0; round < rounds; ++round) {
    const auto beforeStart = Clock::now();
    if (session.StartCapture(argv[1], "", "") != orvanel::StartResult::Started) {
      std::fprintf(stderr, "stop_latency_bench: start failed\n");
      return 1;
    }
    starts.push_back(Milliseconds(Clock::now() - beforeStart));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the thread is waiting by now
    const auto beforeStop = Clock::now();
    session.StopCapture();
    stops.push_back(Milliseconds(Clock::now() - beforeStop));
  }
  std::printf("start_median_ms %.3f\nstop_median_ms %.3f\nstop_max_ms %.3f\n", Median(starts), Median(stops),
              *std::max_element(stops.begin(), stops.end()));
  return 0;
}
