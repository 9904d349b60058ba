#include "tests/support/test_process.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace orvanel::test {
namespace {

int CountEntries(const char* directory) {
  std::error_code error;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator(directory, error); !error && it != decltype(it)();
       it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace

int CountThreads() {
  // ThreadSanitizer starts a thread of its own with the first thread the
  // process makes; make it exist before anything is counted.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  return CountEntries("/proc/self/task");
}
int CountDescriptors() { return CountEntries("/proc/self/fd"); }

bool DropNetRawOnThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace orvanel::test
