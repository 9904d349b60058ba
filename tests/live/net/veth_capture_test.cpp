// A veth pair between this namespace and a peer: what the peer sends, what
// comes back, and frames between other hosts in promiscuous mode.
#include <gtest/gtest.h>

#include <optional>

#include "net/local_addresses.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/test_network.h"
#include "tests/support/test_traffic.h"
#include "tests/support/veth_to_peer.h"

namespace orvanel {
namespace {

using test::RunCommand;
using test::WaitUntil;

constexpr int kDatagrams = 10;
constexpr int kEchoes = 4;
constexpr int kStrangerFrames = 3;

class VethCapture : public test::CaptureFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        RunCommand("ip link add orvother0 type veth peer name orvother1 && ip addr add 10.77.9.1/24 dev orvother0 && "
                   "ip link set orvother0 up"));
    veth.emplace("orvv", "10.77.0");  // after orvother0: the address list keeps that order
    ASSERT_TRUE(veth->ok);
  }

  test::ScopedLink other{"orvother0"};
  std::optional<test::VethToPeer> veth;
};

TEST_F(VethCapture, SeesBothDirectionsAndStrangersFrames) {
  const auto texts = LocalAddressTexts();
  ASSERT_TRUE(texts);
  EXPECT_EQ(*texts, (std::vector<std::string>{"10.77.9.1", "10.77.0.1", "127.0.0.1"}));

  ASSERT_EQ(session->StartCapture("10.77.0.1", "10.77.0.1", "10.77.0.1"), StartResult::Started);
  EXPECT_EQ(test::Promiscuity(veth->here), 1);

  const test::UdpEndpoint server = test::BindUdp("10.77.0.1");
  EXPECT_TRUE(veth->SendFromPeer("10.77.0.2", "10.77.0.1", server.port, kDatagrams));
  veth->peer.Run([&] {
    for (int i = 0; i < kStrangerFrames; ++i) {
      // Padding after the datagram, as a link adds to short frames, is not part of it.
      EXPECT_TRUE(
          test::SendFrameToStranger(veth->there, "10.77.5.1", "10.77.5.2", "stranger " + std::to_string(i), "padding"));
    }
  });
  ASSERT_TRUE(test::SendEchoes("10.77.0.2", kEchoes));

  EXPECT_TRUE(WaitUntil([&] {
    return Count(TrafficGroup::All, ProtocolClass::UDP) >= kDatagrams + kStrangerFrames &&
           Count(TrafficGroup::All, ProtocolClass::ICMP) >= 2 * kEchoes;
  }));
  session->StopCapture();
  // The socket closes on the capture thread after Stop returns, and with it the membership.
  EXPECT_TRUE(WaitUntil([&] { return test::Promiscuity(veth->here) == 0; }));

  // Nothing but IPv4 passes: the pair's ARP and IPv6 chatter is not counted.
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::UDP), kDatagrams + kStrangerFrames);
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::ICMP), 2 * kEchoes);
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::TCP), 0);
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::OTHER), 0);
  EXPECT_EQ(Count(TrafficGroup::Source, ProtocolClass::ICMP), kEchoes);       // our requests
  EXPECT_EQ(Count(TrafficGroup::Destination, ProtocolClass::ICMP), kEchoes);  // the peer's replies
  EXPECT_EQ(Count(TrafficGroup::Destination, ProtocolClass::UDP), kDatagrams);
  EXPECT_EQ(Count(TrafficGroup::Source, ProtocolClass::UDP), 0);
  EXPECT_EQ(Count(TrafficGroup::Other, ProtocolClass::UDP), kStrangerFrames);

  EXPECT_EQ(table.CountRows("UDP", 1, "10.77.0.2"), kDatagrams);
  EXPECT_EQ(table.CountRows("UDP", 1, "10.77.5.1"), kStrangerFrames);
  EXPECT_EQ(table.CountRows("ICMP", 1, "10.77.0.1"), kEchoes);
  EXPECT_EQ(table.CountRows("ICMP", 1, "10.77.0.2"), kEchoes);
  EXPECT_EQ(table.CountRows("UDP", 6, "stranger 2"), 1);
}

}  // namespace
}  // namespace orvanel
