#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <climits>
#include <thread>

#include "net/host_name.h"
#include "net/local_addresses.h"
#include "tests/support/test_network.h"

namespace orvanel {
namespace {

using test::RunCommand;
using test::ScopedLink;

TEST(LocalHostName, ReturnsNamesOfEveryLegalLength) {
  // A UTS namespace of one thread lets the test set a host name without touching the machine's.
  std::thread([] {
    ASSERT_EQ(unshare(CLONE_NEWUTS), 0);
    for (const std::string& name : {std::string("h"), std::string(32, 'a'), std::string(HOST_NAME_MAX, 'z')}) {
      ASSERT_EQ(sethostname(name.data(), name.size()), 0);
      EXPECT_EQ(LocalHostName(), name);
    }
  }).join();
}

TEST(LocalAddresses, UpInterfacesInInterfaceOrderThenLoopback) {
  const ScopedLink first("orvfirst0"), down("orvdown0"), second("orvsecond0");
  // veth pairs whose other ends stay down and bare
  ASSERT_TRUE(
      RunCommand("ip link add orvfirst0 type veth peer name orvfirst1 && "
                 "ip link add orvdown0 type veth peer name orvdown1 && "
                 "ip link add orvsecond0 type veth peer name orvsecond1"));
  // Addresses are added out of interface order; the list still follows the interfaces.
  ASSERT_TRUE(
      RunCommand("ip addr add 10.76.2.1/24 dev orvsecond0 && ip addr add 10.76.1.1/24 dev orvfirst0 && "
                 "ip addr add 10.76.1.2/24 dev orvfirst0 && ip addr add 10.76.3.1/24 dev orvdown0 && "
                 "ip link set orvsecond0 up && ip link set orvfirst0 up"));
  const auto texts = LocalAddressTexts();
  ASSERT_TRUE(texts);
  EXPECT_EQ(*texts, (std::vector<std::string>{"10.76.1.1", "10.76.1.2", "10.76.2.1", "127.0.0.1"}));

  const auto addresses = QueryLocalAddresses();
  ASSERT_TRUE(addresses);
  ASSERT_EQ(addresses->size(), 4u);
  EXPECT_FALSE(addresses->front().loopback);
  EXPECT_TRUE(addresses->back().loopback);
}

TEST(LocalAddresses, EmptyWhenNothingIsUp) {
  std::thread([] {
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);  // this thread only: loopback is down there
    const auto texts = LocalAddressTexts();
    ASSERT_TRUE(texts);
    EXPECT_TRUE(texts->empty());
  }).join();
}

}  // namespace
}  // namespace orvanel
