// Captures on a local address with nothing listed while a command runs, then
// prints what was counted and what the kernel dropped.
//   live_capture_bench ADDRESS -- COMMAND [ARGS...]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "capture/capture_session.h"

namespace {

using namespace std::chrono_literals;

class DiscardingTable final : public orvanel::PacketTable {
 public:
  void InsertItem(int, std::string_view) override {}
  void SetItemText(int, int, std::string_view) override {}
};

long CountedPackets(const orvanel::PacketCounters& counters) {
  long total = 0;
  for (int protocol = 0; protocol < orvanel::kProtocolClassCount; ++protocol) {
    total += counters.Count(orvanel::TrafficGroup::All, static_cast<orvanel::ProtocolClass>(protocol));
  }
  return total;
}

int RunCommand(char** argv) {
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[0], argv);
    std::perror("live_capture_bench: exec");
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
    std::fprintf(stderr, "usage: live_capture_bench ADDRESS -- COMMAND [ARGS...]\n");
    return 2;
  }
  orvanel::PacketCounters counters;
  const orvanel::AtomicCaptureOptions nothingListed;
  DiscardingTable table;
  orvanel::CaptureSession session(counters, nothingListed, table, ".");
  const orvanel::StartResult started = session.StartCapture(argv[1], "", "");
  if (started != orvanel::StartResult::Started) {
    std::fprintf(stderr, "live_capture_bench: start failed (%d)\n", static_cast<int>(started));
    return 1;
  }
  const int status = RunCommand(argv + 3);

  // Let the ring drain: wait until the count holds still, for at most five seconds.
  long last = -1;
  for (auto waited = 0ms; waited < 5s && CountedPackets(counters) != last; waited += 200ms) {
    last = CountedPackets(counters);
    std::this_thread::sleep_for(200ms);
  }
  session.StopCapture();
  std::printf("counted %ld\ndrops %llu\n", CountedPackets(counters),
              static_cast<unsigned long long>(session.KernelDrops()));
  return status == 0 ? 0 : 1;
}
