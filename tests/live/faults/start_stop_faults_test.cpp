// Start and Stop pressed a thousand times in a row while traffic flows: never
// two capture threads, no descriptor left behind, nothing counted after Stop.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/capture_fixture.h"
#include "tests/support/loopback_flow.h"
#include "tests/support/test_network.h"
#include "tests/support/test_process.h"

namespace orvanel {
namespace {

using namespace std::chrono_literals;
using test::CountDescriptors;
using test::CountThreads;
using test::WaitUntil;

constexpr int kPresses = 1000;

class StartStopFaults : public test::CaptureFixtureWithoutSaving {};

TEST_F(StartStopFaults, AThousandPressesUnderTrafficKeepOneThreadAndNoLeaks) {
  // Until the test ends, however long the presses take on this machine: paced,
  // so the count bound (the pace times the time bound) never ends it first.
  const test::LoopbackFlow flow("flow", 50us, 12'000'000, 600s);
  const int threads = CountThreads(), descriptors = CountDescriptors();
  const auto udp = [&] { return Count(TrafficGroup::All, ProtocolClass::UDP); };
  int mostDescriptors = descriptors;
  for (int press = 0; press < kPresses; ++press) {
    SCOPED_TRACE(press);
    ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
    // A thread that has just ended may linger in /proc for a moment; two that run would not go.
    ASSERT_TRUE(WaitUntil([&] { return CountThreads() <= threads + 1; })) << CountThreads();
    mostDescriptors = std::max(mostDescriptors, CountDescriptors());
    if (press % 100 == 0) {  // now and then, the capture must be seen working
      const std::int32_t seen = udp();
      EXPECT_TRUE(WaitUntil([&] { return udp() > seen; }));
    }
    session->StopCapture();
    ASSERT_FALSE(session->IsCapturing());
    mostDescriptors = std::max(mostDescriptors, CountDescriptors());
    if (press % 100 == 50) {  // after Stop nothing counts, though traffic flows
      const std::int32_t stoppedAt = udp();
      std::this_thread::sleep_for(20ms);
      EXPECT_EQ(udp(), stoppedAt);
    }
  }
  // One capture's socket and wake-up at a time, never more.
  EXPECT_LE(mostDescriptors, descriptors + 2);
  session.reset();  // joins the last thread
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads && CountDescriptors() == descriptors; }))
      << CountThreads() << " threads, " << CountDescriptors() << " descriptors";
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

}  // namespace
}  // namespace orvanel
