// The capture's interface deleted (and made again) or set down while it
// runs, and its address gone or moved between the address list and Start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "net/local_addresses.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/test_network.h"
#include "tests/support/test_process.h"
#include "tests/support/test_traffic.h"
#include "tests/support/veth_to_peer.h"

namespace orvanel {
namespace {

using namespace std::chrono_literals;
using test::CountDescriptors;
using test::CountThreads;
using test::RunCommand;
using test::WaitUntil;

class InterfaceFaults : public test::CaptureFixtureWithoutSaving {
 protected:
  std::int32_t Udp() const { return Count(TrafficGroup::All, ProtocolClass::UDP); }

  // count datagrams from the peer's end to port on this end, after which
  // udpTotal UDP packets in all have been counted.
  void ExpectCountedFromPeer(const test::VethToPeer& veth, std::uint16_t port, int count, std::int32_t udpTotal) {
    ASSERT_TRUE(veth.SendFromPeer(veth.remote, veth.local, port, count));
    EXPECT_TRUE(WaitUntil([&] { return Udp() == udpTotal; })) << Udp();
  }

  // Stops and says whether Stop came back. The thread waits without a time
  // limit, so a missing wake-up would never come back: the bound only ends the wait.
  bool StopsPromptly() {
    const auto before = std::chrono::steady_clock::now();
    session->StopCapture();
    return std::chrono::steady_clock::now() - before < 5s && !session->IsCapturing();
  }

  // A Start on loopback right after: it captures, and without errors.
  void ExpectLoopbackCaptureWorks(std::int32_t udpBefore) {
    ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
    const std::int32_t errors = counters.ReceiveErrors();
    const test::UdpEndpoint server = test::BindUdp("127.0.0.1"), client = test::BindUdp("127.0.0.1");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, "after"));
    EXPECT_TRUE(WaitUntil([&] { return Udp() == udpBefore + 3; })) << Udp();
    session->StopCapture();
    EXPECT_EQ(Udp(), udpBefore + 3);
    EXPECT_EQ(counters.ReceiveErrors(), errors);
    EXPECT_EQ(table.CountRows("UDP", 6, "after"), 3);
  }
};

TEST_F(InterfaceFaults, DeletedAndMadeAgainDuringCaptureGoesOnCountsTheGapAndStops) {
  test::VethToPeer veth("orvdel", "10.81.0");
  ASSERT_TRUE(veth.ok);
  const test::UdpEndpoint server = test::BindUdp(veth.local);
  const int descriptors = CountDescriptors();

  ASSERT_EQ(session->StartCapture(veth.local, "", ""), StartResult::Started);
  ExpectCountedFromPeer(veth, server.port, 5, 5);
  EXPECT_EQ(counters.ReceiveErrors(), 0);

  // Deleted while datagrams come, so some may still be in the ring when the
  // link reports going down.
  std::thread flow([&] {
    veth.peer.Run([&] {
      const test::UdpEndpoint client = test::BindUdp(veth.remote);
      const auto end = std::chrono::steady_clock::now() + 300ms;
      for (int i = 0; i < 300 && std::chrono::steady_clock::now() < end; ++i) {
        test::SendUdp(client, veth.local, server.port, "flow");  // fails once the link is gone
        std::this_thread::sleep_for(1ms);
      }
    });
  });
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(RunCommand("ip link del " + veth.here));
  flow.join();
  EXPECT_TRUE(WaitUntil([&] { return session->InterfaceInterruptions() == 1; }));
  // While it is gone nothing spins: at most the one failure of the link going down.
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(counters.ReceiveErrors(), 1);
  EXPECT_TRUE(session->IsCapturing());
  const std::int32_t beforeGap = Udp();
  EXPECT_GE(beforeGap, 5);

  // Made again, with new indexes: the capture finds the address within about
  // a second. Datagrams sent before count as they are seen, so probe first.
  ASSERT_TRUE(veth.Recreate());
  std::int32_t probes = 0;
  EXPECT_TRUE(WaitUntil([&] {
    if (Udp() > beforeGap) return true;
    probes += veth.SendFromPeer(veth.remote, veth.local, server.port, 1);
    std::this_thread::sleep_for(20ms);
    return false;
  }));
  ASSERT_TRUE(WaitUntil([&] { return Udp() > beforeGap && Udp() <= beforeGap + probes; })) << Udp();
  const std::int32_t resumed = Udp();
  ExpectCountedFromPeer(veth, server.port, 5, resumed + 5);
  EXPECT_EQ(session->InterfaceInterruptions(), 1u);
  EXPECT_LE(counters.ReceiveErrors(), 1);
  EXPECT_EQ(table.CountRows("UDP", 1, veth.remote), resumed + 5);

  // Gone again: Stop during the wait for the address is as prompt, and the
  // stopped thread closes its socket and wake-ups by itself.
  ASSERT_TRUE(RunCommand("ip link del " + veth.here));
  EXPECT_TRUE(WaitUntil([&] { return session->InterfaceInterruptions() == 2; }));
  EXPECT_TRUE(StopsPromptly());
  EXPECT_TRUE(WaitUntil([&] { return CountDescriptors() == descriptors; })) << CountDescriptors();
  EXPECT_EQ(session->InterfaceInterruptions(), 2u);  // kept for the losses after Stop

  ExpectLoopbackCaptureWorks(resumed + 5);
  EXPECT_EQ(session->InterfaceInterruptions(), 0u);  // a new capture counts anew
}

TEST_F(InterfaceFaults, SetDownDuringCaptureCountsAnErrorGoesOnWhenUpAndStops) {
  const test::VethToPeer veth("orvdown", "10.82.0");
  ASSERT_TRUE(veth.ok);
  const test::UdpEndpoint server = test::BindUdp(veth.local);
  const int descriptors = CountDescriptors();

  ASSERT_EQ(session->StartCapture(veth.local, "", ""), StartResult::Started);
  ExpectCountedFromPeer(veth, server.port, 5, 5);

  ASSERT_TRUE(RunCommand("ip link set " + veth.here + " down"));
  EXPECT_TRUE(WaitUntil([&] { return counters.ReceiveErrors() >= 1; }));
  // The socket reports the downed link once; the loop then waits, it does not spin.
  std::this_thread::sleep_for(200ms);
  const std::int32_t errorsWhileDown = counters.ReceiveErrors();
  EXPECT_LE(errorsWhileDown, 2);

  // Back up, the same capture sees the link's traffic again.
  ASSERT_TRUE(RunCommand("ip link set " + veth.here + " up"));
  ExpectCountedFromPeer(veth, server.port, 5, 10);
  EXPECT_EQ(counters.ReceiveErrors(), errorsWhileDown);

  ASSERT_TRUE(RunCommand("ip link set " + veth.here + " down"));
  EXPECT_TRUE(WaitUntil([&] { return counters.ReceiveErrors() > errorsWhileDown; }));
  EXPECT_TRUE(StopsPromptly());
  EXPECT_TRUE(WaitUntil([&] { return CountDescriptors() == descriptors; })) << CountDescriptors();

  // A downed link's address is not offered, nor can a capture start on it.
  const auto texts = LocalAddressTexts();
  ASSERT_TRUE(texts);
  EXPECT_EQ(std::ranges::count(*texts, veth.local), 0);
  EXPECT_EQ(session->StartCapture(veth.local, "", ""), StartResult::NoAddressChosen);
  EXPECT_EQ(CountDescriptors(), descriptors);

  ExpectLoopbackCaptureWorks(10);
}

TEST_F(InterfaceFaults, AddressGoneOrMovedBetweenTheListAndStart) {
  const test::VethToPeer first("orvaddr", "10.83.0");
  const test::VethToPeer second("orvmove", "10.84.0");
  ASSERT_TRUE(first.ok && second.ok);
  const auto texts = LocalAddressTexts();
  ASSERT_TRUE(texts);
  ASSERT_EQ(std::ranges::count(*texts, first.local), 1);

  ASSERT_TRUE(RunCommand("ip addr del " + first.local + "/24 dev " + first.here));
  const int threads = CountThreads(), descriptors = CountDescriptors();
  EXPECT_EQ(session->StartCapture(first.local, "", ""), StartResult::NoAddressChosen);
  EXPECT_FALSE(session->IsCapturing());
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_EQ(CountThreads(), threads);

  // Now on the second link: the capture binds where the address is at Start.
  ASSERT_TRUE(RunCommand("ip addr add " + first.local + "/24 dev " + second.here));
  ASSERT_TRUE(second.peer.Command("ip addr add " + first.remote + "/24 dev " + second.there));
  const test::UdpEndpoint server = test::BindUdp(first.local);
  ASSERT_EQ(session->StartCapture(first.local, "", ""), StartResult::Started);
  first.peer.Run([&] {
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(test::SendFrameToStranger(first.there, "10.83.5.1", "10.83.5.2", "old link"));
  });
  ASSERT_TRUE(second.SendFromPeer(first.remote, first.local, server.port, 4));
  EXPECT_TRUE(WaitUntil([&] { return Udp() == 4; })) << Udp();
  std::this_thread::sleep_for(50ms);  // room for frames of the old link, which must not come
  session->StopCapture();
  EXPECT_EQ(Udp(), 4);
  EXPECT_EQ(table.CountRows("UDP", 1, first.remote), 4);
  EXPECT_EQ(table.CountRows("UDP", 6, "old link"), 0);
}

}  // namespace
}  // namespace orvanel
