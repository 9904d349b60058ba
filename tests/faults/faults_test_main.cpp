// Every test runs in network and mount namespaces of this process's own: only
// the tests' traffic is captured, and the mounts they make vanish with them.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include "test_network.h"

namespace {

class PrivateNamespaces : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(orvanel::test::EnterPrivateNetwork()) << "needs root (CAP_SYS_ADMIN)";
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new PrivateNamespaces);
  return RUN_ALL_TESTS();
}
