// Every test runs in a network namespace of this process's own, so only the
// tests' traffic is captured and nothing leaves the machine.
#include <gtest/gtest.h>

#include "tests/support/test_network.h"

namespace {

class PrivateNetwork : public testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(orvanel::test::EnterPrivateNetwork()) << "needs root (CAP_SYS_ADMIN)"; }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new PrivateNetwork);
  return RUN_ALL_TESTS();
}
