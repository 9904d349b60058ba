#include "tests/support/test_network.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace orvanel::test {

bool EnterPrivateNetwork() { return unshare(CLONE_NEWNET) == 0 && RunCommand("ip link set lo up"); }

bool RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ScopedLink::~ScopedLink() { RunCommand("ip link del " + name_ + " 2>/dev/null"); }

PeerNetwork::PeerNetwork() {
  std::thread([this] {
    if (unshare(CLONE_NEWNET) == 0) namespace_.reset(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
  }).join();
}

std::string PeerNetwork::Path() const {
  return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(namespace_.get());
}

bool PeerNetwork::Command(const std::string& command) const {
  return RunCommand("nsenter --net=" + Path() + " " + command);
}

void PeerNetwork::Run(const std::function<void()>& work) const {
  std::thread([&] {
    if (setns(namespace_.get(), CLONE_NEWNET) == 0) work();
  }).join();
}

int Promiscuity(const std::string& name) {
  // The count is not among the flags that SIOCGIFFLAGS reports.
  std::unique_ptr<FILE, decltype(&pclose)> output(popen(("ip -d link show " + name).c_str(), "r"), &pclose);
  if (!output) return -1;
  std::string text;
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, output.get())) text += chunk;
  const std::size_t at = text.find(" promiscuity ");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 13);
}

long SnmpValue(const std::string& protocol, const std::string& field) {
  // Lines come in pairs: "Tcp: names..." then "Tcp: values...".
  std::ifstream file("/proc/thread-self/net/snmp");
  std::string names, values;
  while (std::getline(file, names) && std::getline(file, values)) {
    if (!names.starts_with(protocol + ":")) continue;
    std::istringstream nameWords(names), valueWords(values);
    std::string name, value;
    while (nameWords >> name && valueWords >> value) {
      if (name == field) return std::stol(value);
    }
  }
  return -1;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace orvanel::test
