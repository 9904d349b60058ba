// The dump directory removed, made read-only, or holding links named like the
// last-packet files while a capture writes them: nothing is written outside
// it, and the capture goes on counting and listing.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "tests/support/capture_fixture.h"
#include "tests/support/test_network.h"
#include "tests/support/test_traffic.h"

namespace orvanel {
namespace {

namespace fs = std::filesystem;
using test::FileContents;
using test::WaitUntil;

std::set<fs::path> Entries(const fs::path& directory) {
  std::set<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(directory)) entries.insert(entry.path());
  return entries;
}

class DumpDirectoryFaults : public test::CaptureFixture {
 protected:
  void SetUp() override { ASSERT_FALSE(dumpDirectory.empty()); }

  // Sends one UDP datagram on loopback and waits until it is listed.
  void SendUdp(const std::string& payload) {
    const int listed = table.CountRows("UDP", 6, payload);
    ASSERT_TRUE(test::SendUdp(client_, "127.0.0.1", server_.port, payload));
    EXPECT_TRUE(WaitUntil([&] { return table.CountRows("UDP", 6, payload) == listed + 1; })) << payload;
  }

  std::string LastUdp() const { return DumpFile("buf_UDP.txt"); }

 private:
  const test::UdpEndpoint server_ = test::BindUdp("127.0.0.1"), client_ = test::BindUdp("127.0.0.1");
};

TEST_F(DumpDirectoryFaults, RemovedDuringCaptureWritesNothingElsewhereAndCaptureGoesOn) {
  ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
  SendUdp("before removal");
  EXPECT_TRUE(WaitUntil([&] { return LastUdp().ends_with("before removal"); }));

  fs::remove_all(dumpDirectory);
  SendUdp("while gone 1");
  SendUdp("while gone 2");
  ASSERT_TRUE(test::SendEchoes("127.0.0.1", 2));
  EXPECT_TRUE(WaitUntil([&] { return Count(TrafficGroup::All, ProtocolClass::ICMP) == 4; }));
  EXPECT_TRUE(session->IsCapturing());
  SendUdp("still listed");
  session->StopCapture();
  EXPECT_FALSE(fs::exists(dumpDirectory));  // not made again
  for (const char* name : {"buf_TCP.txt", "buf_UDP.txt", "buf_ICMP.txt"}) {
    EXPECT_FALSE(fs::exists(dumpDirectory.parent_path() / name)) << name;
  }
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::UDP), 4);
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

// The files stay open between packets; their directory's path is looked up
// again every 100 ms, which is when a mount over it takes effect.
void WaitForTheNextDirectoryLookUp() { std::this_thread::sleep_for(std::chrono::milliseconds(250)); }

// A directory bound read-only over itself while it lives: root ignores
// permission bits, a read-only mount binds it too.
class ReadOnlyMount {
 public:
  explicit ReadOnlyMount(const fs::path& directory) : path_(directory) {
    ok = mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  ~ReadOnlyMount() { umount2(path_.c_str(), MNT_DETACH); }  // the writer may hold it for a moment
  ReadOnlyMount(const ReadOnlyMount&) = delete;
  ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;
  bool ok = false;

 private:
  fs::path path_;
};

TEST_F(DumpDirectoryFaults, ReadOnlyDirectoryKeepsItsFilesAndCaptureGoesOn) {
  // The mount below stays with this process: a mount namespace of its own,
  // entered before the capture thread starts so that the thread shares it.
  ASSERT_EQ(unshare(CLONE_NEWNS), 0);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    // In a chroot the root is no mount point, and a mount made here would reach the host.
    ASSERT_EQ(errno, EINVAL);
    GTEST_SKIP() << "the root is not a mount point (a chroot): no private mount can be made";
  }
  ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);
  SendUdp("writable");
  EXPECT_TRUE(WaitUntil([&] { return LastUdp().ends_with("writable"); }));
  const std::string written = LastUdp();
  {
    const ReadOnlyMount readOnly(dumpDirectory);
    ASSERT_TRUE(readOnly.ok);
    WaitForTheNextDirectoryLookUp();
    SendUdp("read-only 1");
    SendUdp("read-only 2");
    ASSERT_TRUE(test::SendEchoes("127.0.0.1", 1));
    EXPECT_TRUE(WaitUntil([&] { return table.CountRows("ICMP", 1, "127.0.0.1") == 2; }));
    SendUdp("read-only 3");  // its save comes after those of every packet before it
    EXPECT_TRUE(session->IsCapturing());
    EXPECT_EQ(LastUdp(), written);  // not even cut short
    EXPECT_FALSE(fs::exists(dumpDirectory / "buf_ICMP.txt"));
  }
  WaitForTheNextDirectoryLookUp();
  SendUdp("writable again");
  session->StopCapture();
  EXPECT_TRUE(LastUdp().ends_with("writable again"));
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::UDP), 5);
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

TEST_F(DumpDirectoryFaults, LinksNamedLikeTheFilesAreNeverWrittenThrough) {
  const test::ScratchDirectory scratch("orvanel-outside");
  const fs::path& outside = scratch.path();
  ASSERT_FALSE(outside.empty());
  std::ofstream(outside / "precious") << "precious";
  std::ofstream(outside / "shared") << "shared";
  fs::create_symlink(outside / "precious", dumpDirectory / "buf_TCP.txt");
  fs::create_symlink(outside / "absent", dumpDirectory / "buf_UDP.txt");  // would be made through the link
  fs::create_hard_link(outside / "shared", dumpDirectory / "buf_ICMP.txt");
  const std::set<fs::path> outsideEntries = Entries(outside);
  ASSERT_EQ(session->StartCapture("127.0.0.1", "", ""), StartResult::Started);

  SendUdp("through a dangling link");
  // Without timestamp options a TCP payload starts where the row expects it.
  ASSERT_TRUE(test::RunCommand("sysctl -qw net.ipv4.tcp_timestamps=0"));
  const test::TcpExchange tcp = test::ExchangeTcp("127.0.0.1", {"through a link"}, "reply");
  ASSERT_TRUE(tcp.ok);
  ASSERT_TRUE(test::SendEchoes("127.0.0.1", 2));
  EXPECT_TRUE(WaitUntil(
      [&] { return table.CountRows("ICMP", 1, "127.0.0.1") == 4 && table.CountRows("TCP", 6, "reply") == 1; }));
  SendUdp("last");
  session->StopCapture();

  EXPECT_EQ(FileContents(outside / "precious"), "precious");
  EXPECT_EQ(FileContents(outside / "shared"), "shared");
  EXPECT_EQ(Entries(outside), outsideEntries);  // "absent" was not made
  EXPECT_TRUE(fs::is_symlink(dumpDirectory / "buf_TCP.txt"));
  EXPECT_TRUE(fs::is_symlink(dumpDirectory / "buf_UDP.txt"));
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::UDP), 2);
  EXPECT_EQ(Count(TrafficGroup::All, ProtocolClass::ICMP), 4);
  EXPECT_EQ(counters.ReceiveErrors(), 0);
}

}  // namespace
}  // namespace orvanel
