// UDP datagrams from one loopback socket to another on a thread of their own,
// until stopped or until a bound in count or time is reached.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/test_traffic.h"

namespace orvanel::test {

class LoopbackFlow {
 public:
  // Sends payload at most `most` times within `longest`, pausing between sends.
  // The sockets and the thread exist before the constructor returns.
  LoopbackFlow(const std::string& payload, std::chrono::microseconds pause, int most, std::chrono::seconds longest);
  ~LoopbackFlow();  // stops and joins
  LoopbackFlow(const LoopbackFlow&) = delete;
  LoopbackFlow& operator=(const LoopbackFlow&) = delete;

  [[nodiscard]] int Sent() const { return sent_; }
  // False once a bound is reached or it is stopped.
  [[nodiscard]] bool Flowing() const { return !finished_; }

 private:
  const UdpEndpoint server_, client_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

}  // namespace orvanel::test
