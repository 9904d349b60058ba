// Starting and stopping: one thread, no descriptor left behind, prompt stops,
// a vanished interface, and the failures a start can report.
#include <gtest/gtest.h>
#include <sched.h>

#include <chrono>
#include <set>
#include <thread>

#include "net/capture_socket.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/loopback_flow.h"
#include "tests/support/test_network.h"
#include "tests/support/test_process.h"

namespace orvanel {
namespace {

using namespace std::chrono_literals;
using test::CountDescriptors;
using test::CountThreads;
using test::RunCommand;
using test::WaitUntil;

class SessionLifecycle : public test::CaptureFixtureWithoutSaving {};

TEST_F(SessionLifecycle, RestartsTwoHundredTimesUnderTrafficWithOneThreadAndNoLeaks) {
  // Until the test ends, however long the rounds take on this machine: paced,
  // so the count bound (the pace times the time bound) never ends it first.
  const test::LoopbackFlow traffic("background", 100us, 6'000'000, 600s);
  const int threads = CountThreads(), descriptors = CountDescriptors();

  // A stopped thread closes its socket on its own and is joined by the next
  // Start; a thread that has ended may linger in /proc for a moment.
  const auto settlesAt = [](int expectedThreads, int expectedDescriptors) {
    return WaitUntil([&] { return CountThreads() == expectedThreads && CountDescriptors() == expectedDescriptors; });
  };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
    ASSERT_TRUE(session->IsCapturing());
    EXPECT_TRUE(settlesAt(threads + 1, descriptors + 2));  // the socket and its wake-up
    // A second Start while capturing starts nothing.
    ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
    EXPECT_TRUE(settlesAt(threads + 1, descriptors + 2));
    const std::int32_t seen = Count(TrafficGroup::All, ProtocolClass::UDP);
    EXPECT_TRUE(WaitUntil([&] { return Count(TrafficGroup::All, ProtocolClass::UDP) > seen; }));
    session->StopCapture();
    ASSERT_FALSE(session->IsCapturing());
    // Every other round starts again at once, while the old thread may still be closing.
    if (round % 2) {
      ASSERT_TRUE(settlesAt(threads, descriptors));
    }
  }
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

TEST_F(SessionLifecycle, StopsPromptlyWithoutTraffic) {
  ASSERT_TRUE(
      RunCommand("ip link add orvquiet0 type veth peer name orvquiet1 && ip addr add 10.79.0.1/24 dev orvquiet0 && "
                 "ip link set orvquiet0 up"));
  const test::ScopedLink quiet("orvquiet0");
  ASSERT_EQ(session->StartCapture("10.79.0.1", "", ""), StartResult::Started);
  std::this_thread::sleep_for(30ms);  // the thread is waiting now
  const auto before = std::chrono::steady_clock::now();
  session->StopCapture();
  // The thread waits without a time limit: a missing wake-up would hang here,
  // and the bound only ends the wait. The real figure is for the benchmark.
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  EXPECT_FALSE(session->IsCapturing());
}

TEST_F(SessionLifecycle, DeletedInterfaceIsWaitedForWithoutSpinningAndStillStops) {
  ASSERT_TRUE(
      RunCommand("ip link add orvgone0 type veth peer name orvgone1 && ip addr add 10.78.0.1/24 dev orvgone0 && "
                 "ip link set orvgone0 up"));
  ASSERT_EQ(session->StartCapture("10.78.0.1", "", ""), StartResult::Started);
  ASSERT_TRUE(RunCommand("ip link del orvgone0"));
  ASSERT_TRUE(WaitUntil([&] { return session->InterfaceInterruptions() == 1; }));
  const std::int32_t errorsBefore = counters.ReceiveErrors();
  std::this_thread::sleep_for(200ms);
  // Its address is looked up once a second meanwhile; nothing fails again.
  EXPECT_LE(errorsBefore, 1);
  EXPECT_EQ(counters.ReceiveErrors(), errorsBefore);
  const auto before = std::chrono::steady_clock::now();
  session->StopCapture();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);  // a hang guard
  EXPECT_FALSE(session->IsCapturing());
}

TEST_F(SessionLifecycle, FailedStartsReportTheirStepAndLeaveNothingOpen) {
  const int threads = CountThreads(), descriptors = CountDescriptors();
  // Nothing chosen, an address that is not local, and one that is only alike.
  for (const char* address : {"", "10.99.0.1", "127.0.0.01", "127.0.0.1 "}) {
    EXPECT_EQ(session->StartCapture(address, "", ""), StartResult::NoAddressChosen) << address;
    EXPECT_FALSE(session->IsCapturing());
  }
  EXPECT_EQ(CountDescriptors(), descriptors);

  // Without the right, and with no helper: another test may put one beside the build's binaries.
  session->UseSocketHelper("/nonexistent/orvanel-socket");
  std::thread([&] {
    ASSERT_TRUE(test::DropNetRawOnThisThread());
    EXPECT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::SocketCreationFailed);
  }).join();
  EXPECT_FALSE(session->IsCapturing());

  std::thread([] {
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);  // loopback is down in this thread's namespace
    EXPECT_EQ(OpenCaptureSocket("127.0.0.1").result, StartResult::AddressListEmpty);
  }).join();

  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }));
}

TEST(StartResultMeaning, EveryResultHasItsOwnText) {
  std::set<std::string_view> meanings;
  for (StartResult result : {StartResult::Started, StartResult::SocketCreationFailed, StartResult::AddressListFailed,
                             StartResult::AddressListEmpty, StartResult::NoAddressChosen, StartResult::BindFailed,
                             StartResult::ReceiveModeFailed, StartResult::TooManyCaptures}) {
    EXPECT_FALSE(StartResultMeaning(result).empty());
    meanings.insert(StartResultMeaning(result));
  }
  EXPECT_EQ(meanings.size(), 8u);
}

}  // namespace
}  // namespace orvanel
