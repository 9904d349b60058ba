// How long a capture takes to go on once its interface was made again: a
// veth end deleted and made again with the same address, ROUNDS times, while
// datagrams go out of it every millisecond; the time from the start of the
// re-making to the first datagram counted after it. Root; runs in a network
// namespace of its own. With "helper", the process gives up the right to
// capture first, so the capture runs in the socket helper beside it.
//   reopen_bench [ROUNDS [helper]]
#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/live/counting_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kAddress[] = "10.88.0.1";
constexpr char kFarEnd[] = "10.88.0.2";

bool Run(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Both ends here; the far end's address is a fixed neighbour, so nothing
// waits for ARP and every datagram goes out of the captured end.
bool MakeLink() {
  return Run(std::string("ip link add orvb0 type veth peer name orvb1 && ip addr add ") + kAddress +
             "/24 dev orvb0 && ip link set orvb1 up && ip link set orvb0 up && ip neigh replace " + kFarEnd +
             " lladdr 02:00:00:00:00:02 dev orvb0");
}

// Polls every 100 microseconds until done or the limit.
bool WaitUntil(const std::function<bool()>& done, Clock::duration limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(100us);
  }
  return true;
}

// Before any other thread starts: the capture then goes through the helper.
bool GiveUpCaptureRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
  data[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
  return syscall(SYS_capset, &header, data) == 0;
}

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
  const bool throughHelper = argc == 3 && std::string(argv[2]) == "helper";
  if (argc > 3 || (argc == 3 && !throughHelper) || rounds < 1 || rounds > 1000) {
    std::fprintf(stderr, "usage: reopen_bench [ROUNDS [helper]]\n");
    return 2;
  }
  if (throughHelper && !GiveUpCaptureRight()) {
    std::fprintf(stderr, "reopen_bench: cannot give up the right to capture\n");
    return 1;
  }
  if (unshare(CLONE_NEWNET) != 0 || !Run("ip link set lo up") || !MakeLink()) {
    std::fprintf(stderr, "reopen_bench: cannot make a network namespace and a veth pair (root?)\n");
    return 1;
  }
  orvanel::bench::CountingSession counting;
  orvanel::CaptureSession& session = counting.session;
  session.UseSocketHelper(ORVANEL_HELPER_PATH);  // used only without the right
  if (session.StartCapture(kAddress, "", "") != orvanel::StartResult::Started) {
    std::fprintf(stderr, "reopen_bench: start failed\n");
    return 1;
  }
  const auto udp = [&] { return counting.counters.Count(orvanel::TrafficGroup::All, orvanel::ProtocolClass::UDP); };

  std::atomic<bool> sending{true};
  std::thread sender([&] {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, kFarEnd, &to.sin_addr);
    while (sending.load()) {
      // Fails while the interface is gone; that is the point.
      sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      std::this_thread::sleep_for(1ms);
    }
    close(fd);
  });

  std::vector<double> resumed, made;
  bool ok = WaitUntil([&] { return udp() > 0; }, 5s);
  for (int round = 0; ok && round < rounds; ++round) {
    ok = Run("ip link del orvb0") &&
         WaitUntil([&] { return session.InterfaceInterruptions() == static_cast<std::uint64_t>(round) + 1; }, 5s);
    std::this_thread::sleep_for(200ms);  // the sender finds no route meanwhile
    const std::int32_t before = udp();
    const auto start = Clock::now();
    ok = ok && MakeLink();
    made.push_back(Milliseconds(Clock::now() - start));
    ok = ok && WaitUntil([&] { return udp() > before; }, 10s);
    resumed.push_back(Milliseconds(Clock::now() - start));
  }
  sending.store(false);
  sender.join();
  session.StopCapture();
  if (!ok) {
    std::fprintf(stderr, "reopen_bench: the capture did not go on within 10 s\n");
    return 1;
  }
  std::sort(resumed.begin(), resumed.end());
  std::sort(made.begin(), made.end());
  const char* key = throughHelper ? "reopen_helper" : "reopen";
  std::printf("%s.median_ms %.1f\n%s.max_ms %.1f\n%s.link_made_median_ms %.1f\n", key, resumed[resumed.size() / 2], key,
              resumed.back(), key, made[made.size() / 2]);
  return 0;
}
