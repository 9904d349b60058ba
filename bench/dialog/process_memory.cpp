#include "bench/dialog/process_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>

namespace orvanel::bench {

std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  std::size_t resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t AnonymousAndSharedBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  std::size_t kilobytes = 0;
  std::size_t total = 0;
  while (status >> key) {
    if ((key == "RssAnon:" || key == "RssShmem:") && status >> kilobytes) total += kilobytes * 1024;
    status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return total;
}

namespace {

struct TaskCpu {
  double userMs = 0;
  double systemMs = 0;
};

double TicksToMs(double ticks) { return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)); }

// utime and stime of /proc/self/task/TID/stat, or of /proc/PID/stat.
TaskCpu TaskCpuMs(const std::filesystem::path& task) {
  std::ifstream stat(task / "stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t afterName = text.rfind(')');
  if (afterName == std::string::npos) return {};
  std::istringstream fields(text.substr(afterName + 2));  // from field 3, the state
  std::string field;
  TaskCpu cpu;
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) cpu.userMs = TicksToMs(std::stod(field));
    if (number == 15) cpu.systemMs = TicksToMs(std::stod(field));
  }
  return cpu;
}

// The machine's softirq time, all CPUs: the seventh figure of /proc/stat's "cpu" line.
double SoftirqMs() {
  std::ifstream stat("/proc/stat");
  std::string label;
  double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
  if (!(stat >> label >> user >> nice >> system >> idle >> iowait >> irq >> softirq)) return 0;
  return TicksToMs(softirq);
}

double Ms(const timeval& time) { return static_cast<double>(time.tv_sec) * 1000.0 + time.tv_usec / 1000.0; }

}  // namespace

CpuSplit CpuTimes() {
  CpuSplit split;
  const std::string self = std::to_string(getpid());
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    const TaskCpu cpu = TaskCpuMs(task.path());
    if (task.path().filename() == self) {
      split.mainThreadMs += cpu.userMs + cpu.systemMs;
    } else {
      split.otherThreadsMs += cpu.userMs + cpu.systemMs;
      split.otherThreadsSystemMs += cpu.systemMs;
    }
  }
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream children(task.path() / "children");
    for (pid_t child; children >> child;) {
      const TaskCpu cpu = TaskCpuMs("/proc/" + std::to_string(child));
      split.runningChildrenMs += cpu.userMs + cpu.systemMs;
    }
  }
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  split.childrenMs = Ms(children.ru_utime) + Ms(children.ru_stime);
  split.machineSoftirqMs = SoftirqMs();
  return split;
}

}  // namespace orvanel::bench
