#include "tests/support/loopback_flow.h"

namespace orvanel::test {

LoopbackFlow::LoopbackFlow(const std::string& payload, std::chrono::microseconds pause, int most,
                           std::chrono::seconds longest)
    : server_(BindUdp("127.0.0.1")), client_(BindUdp("127.0.0.1")), thread_([=, this] {
        const auto end = std::chrono::steady_clock::now() + longest;
        while (!stop_ && sent_ < most && std::chrono::steady_clock::now() < end) {
          SendUdp(client_, "127.0.0.1", server_.port, payload);
          ++sent_;
          std::this_thread::sleep_for(pause);
        }
        finished_ = true;
      }) {}

LoopbackFlow::~LoopbackFlow() {
  stop_ = true;
  thread_.join();
}

}  // namespace orvanel::test
