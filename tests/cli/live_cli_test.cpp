// orvanel-cli capturing live on loopback, in this test process's own network
// namespace (its main enters one), so only the tests' traffic is seen.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>

#include "test_network.h"
#include "test_traffic.h"
#include "tests/cli/cli_process.h"

namespace orvanel::test {
namespace {

namespace fs = std::filesystem;

constexpr char kCounterLinesFor2Udp[] = "#all\t0\t2\t0\t0\n#src\t0\t2\t0\t0\n#dst\t0\t2\t0\t0\n#other\t0\t0\t0\t0\n";

class LiveCli : public testing::Test {
 protected:
  std::unique_ptr<CliProcess> Start(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), ORVANEL_CLI_PATH);
    return std::make_unique<CliProcess>(arguments, directory_);
  }

  // Starts a capture and waits until it runs.
  std::unique_ptr<CliProcess> Capture(std::vector<std::string> arguments) const {
    auto cli = Start(std::move(arguments));
    EXPECT_TRUE(cli->WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli->Err();
    return cli;
  }

  // Sends each payload from client to server, both on 127.0.0.1.
  void Send(const std::vector<std::string>& payloads) const {
    for (const std::string& payload : payloads) ASSERT_TRUE(SendUdp(client, "127.0.0.1", server.port, payload));
  }

  // The row of one sent datagram; shown is its escaped payload when that differs.
  std::string Row(const std::string& payload, const std::string& shown = "") const {
    return "UDP\t127.0.0.1\t" + std::to_string(client.port) + "\t127.0.0.1\t" + std::to_string(server.port) + "\t" +
           std::to_string(28 + payload.size()) + "\t" + (shown.empty() ? payload : shown) + "\n";
  }

  const ScratchDirectory scratch_{"orvanel-live-cli"};
  const fs::path directory_ = scratch_.path();
  // The server socket stays open so no port-unreachable answer adds packets.
  UdpEndpoint server = BindUdp("127.0.0.1");
  UdpEndpoint client = BindUdp("127.0.0.1");
};

TEST_F(LiveCli, CountStopsAtExactlyNPacketsAndPrintsRowsThenCounters) {
  auto cli = Capture({"--address", "127.0.0.1", "--count", "2", "--show", "src=udp"});
  Send({"one", "two", "three", "four"});
  ASSERT_EQ(cli->Wait(), 0) << cli->Err();
  EXPECT_EQ(cli->Out(), Row("one") + Row("two") + kCounterLinesFor2Udp + "#errors\t0\n");
  EXPECT_EQ(cli->Err(),
            "orvanel-cli: capturing on 127.0.0.1\n"
            "orvanel-cli: 0 receive failures, 0 dropped by the kernel, 0 not listed\n");
}

TEST_F(LiveCli, SecondsStopAndFiltersChooseTheGroups) {
  // Source filter misses, destination filter matches: each datagram is listed once, under dst.
  auto cli = Capture({"--address", "127.0.0.1", "--seconds", "1.5", "--src", "10.", "--dst", "127.0.",
                      "--show", "src=udp", "--show", "dst=udp", "--show", "other=udp"});
  Send({"a\\b", std::string("\x01\xff", 2)});
  ASSERT_TRUE(cli->Running()) << "ended before the time was up";
  ASSERT_EQ(cli->Wait(), 0) << cli->Err();
  EXPECT_EQ(cli->Out(), Row("a\\b", "a\\\\b") + Row(std::string("\x01\xff", 2), "\\x01\\xff") +
                            "#all\t0\t2\t0\t0\n#src\t0\t0\t0\t0\n#dst\t0\t2\t0\t0\n#other\t0\t0\t0\t0\n#errors\t0\n");
}

TEST_F(LiveCli, StopSignalsEndTheCaptureAndEverythingIsStillPrinted) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const fs::path saved = directory_ / "saved";
    fs::create_directories(saved);
    auto cli = Capture({"--address", "127.0.0.1", "--show", "src=udp", "--save-last", saved.string()});
    Send({"first", "last"});
    // The saved copy of the last listed packet shows the capture thread has seen both.
    ASSERT_TRUE(WaitUntil([&] { return FileContents(saved / "buf_UDP.txt").ends_with("last"); }));
    ASSERT_TRUE(cli->Signal(signal));
    ASSERT_EQ(cli->Wait(), 0) << cli->Err();
    EXPECT_EQ(cli->Out(), Row("first") + Row("last") + kCounterLinesFor2Udp + "#errors\t0\n");
    EXPECT_TRUE(cli->Err().ends_with("orvanel-cli: 0 receive failures, 0 dropped by the kernel, 0 not listed\n")) << cli->Err();
    fs::remove_all(saved);
  }
}

TEST_F(LiveCli, AnAddressThatIsNotLocalExitsWithTwo) {
  for (const char* address : {"10.9.8.7", "", "127.0.0.01", "127.0.0.1 ", "localhost"}) {
    auto cli = Start({"--address", address, "--seconds", "5"});
    EXPECT_EQ(cli->Wait(), 2) << address;
    EXPECT_EQ(cli->Out(), "") << address;
    EXPECT_EQ(cli->Err(), "orvanel-cli: choose one of this machine's IPv4 addresses\n") << address;
  }
}

TEST_F(LiveCli, WithoutTheRightToCaptureTheStartFailsWithOne) {
  // Root without CAP_NET_RAW in its bounding set: neither the cli nor the
  // helper it starts can open the socket.
  std::vector<std::string> arguments = {"/usr/bin/setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw",
                                        ORVANEL_CLI_PATH, "--address", "127.0.0.1", "--count", "1"};
  CliProcess cli(arguments, directory_);
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_EQ(cli.Out(), "");
  EXPECT_EQ(cli.Err(), "orvanel-cli: cannot create the capture socket (run as root, or add yourself to the "
                       "group orvanel, then log in again; see README)\n");
}

TEST_F(LiveCli, ListAddressesPrintsTheDialogOrder) {
  auto list = [&] {
    auto cli = Start({"--list-addresses"});
    EXPECT_EQ(cli->Wait(), 0);
    EXPECT_EQ(cli->Err(), "");
    return cli->Out();
  };
  EXPECT_EQ(list(), "127.0.0.1\n");
  // Two linked pairs: both ends of the first are up and hold addresses, the
  // second's one addressed end stays down.
  ScopedLink first("orvd0"), second("orvd2");
  ASSERT_TRUE(RunCommand("ip link add orvd0 type veth peer name orvd1 && ip addr add 192.0.2.1/24 dev orvd0 && "
                         "ip addr add 192.0.2.9/24 dev orvd0 && ip addr add 198.51.100.1/24 dev orvd1 && "
                         "ip link set orvd0 up && ip link set orvd1 up"));
  ASSERT_TRUE(RunCommand("ip link add orvd2 type veth peer name orvd3 && ip addr add 203.0.113.1/24 dev orvd2"));
  // Interface order: the kernel makes the peer end (orvd1) first.
  EXPECT_EQ(list(), "198.51.100.1\n192.0.2.1\n192.0.2.9\n127.0.0.1\n");
}

}  // namespace
}  // namespace orvanel::test
