#include "capture/classify.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvanel {
namespace {

TEST(MatchesFilter, IsAPlainBytePrefixTest) {
  struct Case {
    std::string_view address;
    std::string_view filter;
    bool matches;
  };
  const std::string tooLong(10'000, '1');
  const Case cases[] = {
      {"10.0.0.1", "", true},
      {"0.0.0.0", "", true},
      {"10.0.0.1", "10.0.0.1", true},
      {"10.0.0.10", "10.0.0.1", true},
      {"10.0.0.19", "10.0.0.1", true},
      {"10.0.0.100", "10.0.0.1", true},
      {"10.0.0.199", "10.0.0.1", true},
      {"10.0.0.2", "10.0.0.1", false},
      {"10.0.0.20", "10.0.0.1", false},
      {"192.168.0.1", "192.168.", true},
      {"192.168.255.255", "192.168.", true},
      {"192.169.0.1", "192.168.", false},
      {"192.16.80.1", "192.168.", false},
      {"10.0.0.1", "10.0.0.1.", false},  // longer than the address
      {"10.0.0.1", "10.0.0.10", false},
      {"10.0.0.1", "10.0.0.1 ", false},  // trailing space
      {"10.0.0.1", " 10.0.0.1", false},
      {"10.0.0.1", "010.0.0.1", false},  // leading zero
      {"10.0.0.1", std::string_view("10.\0", 4), false},
      {"10.0.0.1", std::string_view("10.0.0.1\0", 9), false},  // embedded NUL past the end
      {"10.0.0.1", "10.\xff\xfe", false},                      // invalid UTF-8
      {"10.0.0.1", "\xe5\x8d\x81", false},
      {"111.111.111.111", tooLong, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFilter(c.address, c.filter), c.matches) << c.address << " / " << c.filter;
  }
}

TEST(ClassifyAddresses, GivesTheCaseFromBothTests) {
  EXPECT_EQ(ClassifyAddresses("10.0.0.1", "10.0.0.2", "10.", "10."), TrafficCase::Both);
  EXPECT_EQ(ClassifyAddresses("10.0.0.1", "10.0.0.2", "", ""), TrafficCase::Both);
  EXPECT_EQ(ClassifyAddresses("10.0.0.1", "10.0.0.2", "10.0.0.1", "10.0.0.1"), TrafficCase::SourceOnly);
  EXPECT_EQ(ClassifyAddresses("10.0.0.2", "10.0.0.1", "10.0.0.1", "10.0.0.1"), TrafficCase::DestinationOnly);
  EXPECT_EQ(ClassifyAddresses("10.0.0.2", "10.0.0.3", "10.0.0.1", "10.0.0.1"), TrafficCase::Neither);
}

TEST(CountInGroups, CountsEachCaseInItsGroupsInOrder) {
  using enum TrafficGroup;
  EXPECT_EQ(std::vector(GroupsOfCase(TrafficCase::Both).begin(), GroupsOfCase(TrafficCase::Both).end()),
            (std::vector{All, Source, Destination}));
  EXPECT_EQ(std::vector(GroupsOfCase(TrafficCase::SourceOnly).begin(), GroupsOfCase(TrafficCase::SourceOnly).end()),
            (std::vector{All, Source}));
  EXPECT_EQ(
      std::vector(GroupsOfCase(TrafficCase::DestinationOnly).begin(), GroupsOfCase(TrafficCase::DestinationOnly).end()),
      (std::vector{All, Destination}));
  EXPECT_EQ(std::vector(GroupsOfCase(TrafficCase::Neither).begin(), GroupsOfCase(TrafficCase::Neither).end()),
            (std::vector{Other, All}));

  PacketCounters counters;
  CountInGroups(counters, TrafficCase::Both, kProtocolTCP, 1500);
  CountInGroups(counters, TrafficCase::SourceOnly, kProtocolUDP, 65535);
  CountInGroups(counters, TrafficCase::DestinationOnly, kProtocolICMP, 84);
  CountInGroups(counters, TrafficCase::Neither, 2, 32);    // IGMP
  CountInGroups(counters, TrafficCase::Neither, 47, 100);  // GRE
  CountInGroups(counters, TrafficCase::Both, 0, 20);
  // Rows: All, Source, Destination, Other; columns TCP, UDP, ICMP, OTHER.
  const std::int32_t expected[4][4] = {{1, 1, 1, 3}, {1, 1, 0, 1}, {1, 0, 1, 1}, {0, 0, 0, 2}};
  for (int group = 0; group < 4; ++group)
    for (int protocol = 0; protocol < 4; ++protocol)
      EXPECT_EQ(counters.Count(static_cast<TrafficGroup>(group + 1), static_cast<ProtocolClass>(protocol)),
                expected[group][protocol])
          << group << "," << protocol;
  EXPECT_EQ(counters.RunningBytes(TrafficGroup::Other, ProtocolClass::OTHER), 132u);  // each group gets the length
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

}  // namespace
}  // namespace orvanel
