// Network namespaces and links for the capture tests.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "capture/unique_fd.h"

namespace orvanel::test {

// Moves the calling (main) thread, and so every thread and command it starts
// later, into a new network namespace with loopback up.
bool EnterPrivateNetwork();

// Runs a shell command; true when it exits with status 0.
bool RunCommand(const std::string& command);

// Deletes the link when it goes out of scope.
class ScopedLink {
 public:
  explicit ScopedLink(std::string name) : name_(std::move(name)) {}
  ~ScopedLink();
  ScopedLink(const ScopedLink&) = delete;
  ScopedLink& operator=(const ScopedLink&) = delete;

 private:
  std::string name_;
};

// A second network namespace, alive as long as this object.
class PeerNetwork {
 public:
  PeerNetwork();
  [[nodiscard]] bool Valid() const { return namespace_.valid(); }
  // A path that `ip ... netns` and `nsenter --net=` accept.
  [[nodiscard]] std::string Path() const;
  [[nodiscard]] bool Command(const std::string& command) const;
  // Runs work on a thread inside the namespace; sockets it makes stay there.
  void Run(const std::function<void()>& work) const;

 private:
  UniqueFd namespace_;
};

// How many times promiscuous mode is switched on for a link, -1 when unknown.
int Promiscuity(const std::string& name);

// A field of /proc/net/snmp for this namespace, e.g. ("Tcp", "OutSegs"); -1 when missing.
long SnmpValue(const std::string& protocol, const std::string& field);

// Polls the condition every millisecond until it holds or the time is up:
// a bound against a hang, never a timing, so it is generous.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

}  // namespace orvanel::test
