// Filters of any bytes and any length through a live capture: they never
// match, so every packet is counted and listed in the Other group.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/capture_fixture.h"
#include "tests/support/test_network.h"
#include "tests/support/test_traffic.h"

namespace orvanel {
namespace {

using test::WaitUntil;

constexpr int kDatagrams = 3;
constexpr int kEchoes = 1;  // a request and a reply

std::vector<std::string> HostileFilters() {
  std::mt19937 random(6);
  std::string noise(10'000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  return {
      std::string(10'000, '1'),
      "127.0.0.1" + std::string(9'991, '.'),
      noise,
      "127.\xff\xfe",              // invalid UTF-8
      "\xe5\x8d\x81\xe5\xad\x97",  // valid UTF-8, not ASCII
      "\x31\x32\x37\xc0\xae",      // an overlong '.'
      "\t127.0.0.1",               // control characters
      "127.0.0.1\r\n",
      "\x1b[2J127",
      std::string("127.\0", 5),  // a C string would stop at the NUL and match
      std::string("127.0.0.1\0", 10),
      std::string("\0", 1),
  };
}

class FilterFaults : public test::CaptureFixture {};

TEST_F(FilterFaults, HostileFiltersNeverMatchAndEveryPacketIsOther) {
  const test::UdpEndpoint server = test::BindUdp("127.0.0.1"), client = test::BindUdp("127.0.0.1");
  const std::vector<std::string> filters = HostileFilters();
  for (std::size_t i = 0; i < filters.size(); ++i) {
    SCOPED_TRACE(i);
    counters.ZeroAllCounters();
    const std::size_t rowsBefore = table.Rows().size();
    // The same filter for both sides, and each against the next.
    const std::string& dstFilter = i % 2 ? filters[(i + 1) % filters.size()] : filters[i];
    ASSERT_EQ(session->StartCapture("127.0.0.1", filters[i], dstFilter), StartResult::Started);
    for (int n = 0; n < kDatagrams; ++n) ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, "filtered"));
    ASSERT_TRUE(test::SendEchoes("127.0.0.1", kEchoes));
    EXPECT_TRUE(WaitUntil([&] {
      return Count(TrafficGroup::All, ProtocolClass::UDP) == kDatagrams &&
             Count(TrafficGroup::All, ProtocolClass::ICMP) == 2 * kEchoes;
    }));
    session->StopCapture();

    for (ProtocolClass protocol : {ProtocolClass::TCP, ProtocolClass::UDP, ProtocolClass::ICMP, ProtocolClass::OTHER}) {
      EXPECT_EQ(Count(TrafficGroup::Source, protocol), 0);
      EXPECT_EQ(Count(TrafficGroup::Destination, protocol), 0);
      EXPECT_EQ(Count(TrafficGroup::Other, protocol), Count(TrafficGroup::All, protocol));
    }
    EXPECT_EQ(Count(TrafficGroup::Other, ProtocolClass::UDP), kDatagrams);
    EXPECT_EQ(Count(TrafficGroup::Other, ProtocolClass::ICMP), 2 * kEchoes);
    // Listed once each, through the Other boxes.
    EXPECT_EQ(table.Rows().size() - rowsBefore, static_cast<std::size_t>(kDatagrams + 2 * kEchoes));
  }
  EXPECT_EQ(table.CountRows("UDP", 6, "filtered"), static_cast<int>(filters.size()) * kDatagrams);

  // With the Other group unticked, the same packets are counted but not listed.
  options.Set(CaptureOption::OtherEnable, kUnchecked);
  counters.ZeroAllCounters();
  const std::size_t rowsBefore = table.Rows().size();
  ASSERT_EQ(session->StartCapture("127.0.0.1", filters[0], filters[2]), StartResult::Started);
  ASSERT_TRUE(test::SendUdp(client, "127.0.0.1", server.port, "unlisted"));
  EXPECT_TRUE(WaitUntil([&] { return Count(TrafficGroup::Other, ProtocolClass::UDP) == 1; }));
  session->StopCapture();
  EXPECT_EQ(table.Rows().size(), rowsBefore);
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

}  // namespace
}  // namespace orvanel
