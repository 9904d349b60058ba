// orvanel-cli capturing live on loopback, in this test process's own network
// namespace (its main enters one), so only the tests' traffic is seen.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/cli_process.h"
#include "tests/support/loopback_flow.h"
#include "tests/support/promtool_check.h"
#include "tests/support/test_network.h"
#include "tests/support/test_traffic.h"
#include "tests/support/veth_to_peer.h"

namespace orvanel::test {
namespace {

namespace fs = std::filesystem;

using namespace std::chrono_literals;

constexpr char kCounterLinesFor2Udp[] = "#all\t0\t2\t0\t0\n#src\t0\t2\t0\t0\n#dst\t0\t2\t0\t0\n#other\t0\t0\t0\t0\n";

// The byte lines when every datagram was UDP and matched both filters.
std::string UdpByteLines(int bytes) {
  const std::string udp = "\t0\t" + std::to_string(bytes) + "\t0\t0\n";
  return "#bytes_all" + udp + "#bytes_src" + udp + "#bytes_dst" + udp + "#bytes_other\t0\t0\t0\t0\n";
}

class LiveCli : public testing::Test {
 protected:
  [[nodiscard]] std::unique_ptr<CliProcess> Start(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), ORVANEL_CLI_PATH);
    return std::make_unique<CliProcess>(arguments, directory_);
  }

  // Starts a capture and waits until it runs.
  [[nodiscard]] std::unique_ptr<CliProcess> Capture(std::vector<std::string> arguments) const {
    auto cli = Start(std::move(arguments));
    EXPECT_TRUE(cli->WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli->Err();
    return cli;
  }

  // Sends each payload from client to server, both on 127.0.0.1.
  void Send(const std::vector<std::string>& payloads) const {
    for (const std::string& payload : payloads) ASSERT_TRUE(SendUdp(client, "127.0.0.1", server.port, payload));
  }

  // The row of one sent datagram; shown is its escaped payload when that differs.
  [[nodiscard]] std::string Row(const std::string& payload, const std::string& shown = "") const {
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
  EXPECT_EQ(cli->Out(), Row("one") + Row("two") + kCounterLinesFor2Udp + "#errors\t0\n" + UdpByteLines(31 + 31));
  EXPECT_EQ(cli->Err(),
            "orvanel-cli: capturing on 127.0.0.1\n"
            "orvanel-cli: 0 receive failures, 0 dropped by the kernel, 0 not listed, 0 interface interruptions, 0 not "
            "saved\n");
}

TEST_F(LiveCli, SecondsStopAndFiltersChooseTheGroups) {
  // Source filter misses, destination filter matches: each datagram is listed once, under dst.
  auto cli = Capture({"--address", "127.0.0.1", "--seconds", "1.5", "--src", "10.", "--dst", "127.0.", "--show",
                      "src=udp", "--show", "dst=udp", "--show", "other=udp"});
  Send({"a\\b", std::string("\x01\xff", 2)});
  ASSERT_TRUE(cli->Running()) << "ended before the time was up";
  ASSERT_EQ(cli->Wait(), 0) << cli->Err();
  EXPECT_EQ(cli->Out(), Row("a\\b", "a\\\\b") + Row(std::string("\x01\xff", 2), "\\x01\\xff") +
                            "#all\t0\t2\t0\t0\n#src\t0\t0\t0\t0\n#dst\t0\t2\t0\t0\n#other\t0\t0\t0\t0\n#errors\t0\n"
                            "#bytes_all\t0\t61\t0\t0\n#bytes_src\t0\t0\t0\t0\n#bytes_dst\t0\t61\t0\t0\n"
                            "#bytes_other\t0\t0\t0\t0\n");
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
    EXPECT_EQ(cli->Out(), Row("first") + Row("last") + kCounterLinesFor2Udp + "#errors\t0\n" + UdpByteLines(33 + 32));
    EXPECT_TRUE(
        cli->Err().ends_with("orvanel-cli: 0 receive failures, 0 dropped by the kernel, 0 not listed, 0 interface "
                             "interruptions, 0 not saved\n"))
        << cli->Err();
    fs::remove_all(saved);
  }
}

TEST_F(LiveCli, AStopSignalRightAfterTrafficLosesNothing) {
  // The kernel hands a part-filled block of its ring over only after a
  // timeout, so the last packets before a stop are still in the kernel's hands.
  for (int run = 0; run < 6; ++run) {
    const int signal = run % 2 == 0 ? SIGINT : SIGTERM;
    SCOPED_TRACE(run);
    auto cli = Capture({"--address", "127.0.0.1", "--show", "src=icmp"});
    ASSERT_TRUE(SendEchoes("127.0.0.1", 4));  // four requests, four replies
    ASSERT_TRUE(cli->Signal(signal));
    ASSERT_EQ(cli->Wait(), 0) << cli->Err();
    const std::string out = cli->Out();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 8 + 9) << out;
    // Each echo is 36 bytes: a 20-byte header and 16 of ICMP.
    EXPECT_TRUE(
        out.ends_with("#all\t0\t0\t8\t0\n#src\t0\t0\t8\t0\n#dst\t0\t0\t8\t0\n#other\t0\t0\t0\t0\n#errors\t0\n"
                      "#bytes_all\t0\t0\t288\t0\n#bytes_src\t0\t0\t288\t0\n#bytes_dst\t0\t0\t288\t0\n"
                      "#bytes_other\t0\t0\t0\t0\n"))
        << out;
    EXPECT_TRUE(
        cli->Err().ends_with("orvanel-cli: 0 receive failures, 0 dropped by the kernel, 0 not listed, 0 interface "
                             "interruptions, 0 not saved\n"))
        << cli->Err();
  }
}

TEST_F(LiveCli, RowsWhoseLinesCannotBeWrittenCountAsNotListed) {
  CliProcess cli({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", ORVANEL_CLI_PATH, "--address", "127.0.0.1",
                  "--count", "100", "--show", "src=udp"},
                 directory_);
  ASSERT_TRUE(cli.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli.Err();
  Send(std::vector<std::string>(100, std::string(200, 'x')));  // far more than one buffer of lines
  EXPECT_EQ(cli.Wait(), 2);
  std::smatch lost;
  const std::string err = cli.Err();
  ASSERT_TRUE(std::regex_search(
      err, lost, std::regex("0 dropped by the kernel, ([0-9]+) not listed, 0 interface interruptions, 0 not saved\n")))
      << err;
  EXPECT_GT(std::stoi(lost[1]), 0);
  EXPECT_TRUE(err.ends_with("orvanel-cli: cannot write the output\n")) << err;
}

// The value of one sample in a metrics page; -1 when it is missing.
long long Sample(const std::string& page, const std::string& series) {
  const std::size_t at = page.find("\n" + series + " ");
  return at == std::string::npos ? -1 : std::stoll(page.substr(at + series.size() + 2));
}

// The number after the label (e.g. "#all") and count tabs in the counter lines.
long long CounterField(const std::string& out, const std::string& label, int field) {
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string name;
    fields >> name;
    long long value = -1;
    for (int i = 0; i < field; ++i) fields >> value;
    if (name == label) return value;
  }
  return -1;
}

TEST_F(LiveCli, MetricsAreServedWhileAFloodIsCaptured) {
  auto cli = Capture({"--address", "127.0.0.1", "--quiet", "--show", "other=udp", "--metrics-listen", "127.0.0.1:0",
                      "--src", "127.0.0.1\"\\", "--dst", "\xff\n"});
  std::smatch url;
  const std::string err = cli->Err();
  ASSERT_TRUE(std::regex_search(err, url, std::regex("metrics on http://127\\.0\\.0\\.1:([0-9]+)/metrics\n"))) << err;
  const int port = std::stoi(url[1]);
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(5s);
  client.set_read_timeout(5s);
  const std::string udp = "orvanel_packets_total{protocol=\"udp\"}";
  auto scrape = [&] {
    const httplib::Result result = client.Get("/metrics");
    EXPECT_TRUE(result) << httplib::to_string(result.error());
    if (!result) return std::string();
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    return result->body;
  };

  int scrapesDuringFlood = 0;
  long long last = 0;
  {
    const LoopbackFlow flood("flood", 0us, std::numeric_limits<int>::max(), 2s);  // as long on any machine
    while (flood.Flowing()) {
      const long long now = Sample(scrape(), udp);
      EXPECT_GE(now, last) << "a counter went back";
      last = now;
      ++scrapesDuringFlood;
      std::this_thread::sleep_for(10ms);
    }
  }
  EXPECT_GE(scrapesDuringFlood, 3);
  // Settled once the count holds still over a few block timeouts (the TCP
  // count never does: each scrape adds to it).
  std::string page = scrape();
  for (std::string previous; Sample(page, udp) != Sample(previous, udp);) {
    previous = page;
    std::this_thread::sleep_for(50ms);
    page = scrape();
  }
  EXPECT_GT(Sample(page, udp), 0);
  EXPECT_EQ(PromtoolFindings(page, directory_), "");
  for (const char* path : {"/", "/metricsx", "/metrics/"}) EXPECT_EQ(client.Get(path)->status, 404) << path;

  // A second exporter cannot take the same port.
  const fs::path secondDirectory = directory_ / "second";
  fs::create_directory(secondDirectory);
  CliProcess second(
      {ORVANEL_CLI_PATH, "--address", "127.0.0.1", "--metrics-listen", "127.0.0.1:" + std::to_string(port)},
      secondDirectory);
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_EQ(second.Err(),
            "orvanel-cli: cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use\n");

  ASSERT_TRUE(cli->Signal(SIGTERM));
  ASSERT_EQ(cli->Wait(), 0) << cli->Err();
  const std::string out = cli->Out();
  EXPECT_TRUE(out.starts_with("#all\t")) << "rows printed despite --quiet";
  EXPECT_EQ(Sample(page, udp), CounterField(out, "#all", 2));
  EXPECT_EQ(Sample(page, "orvanel_group_packets_total{group=\"neither\",protocol=\"udp\"}"),
            CounterField(out, "#other", 2));
  EXPECT_EQ(Sample(page, "orvanel_rows_listed_total"), CounterField(out, "#other", 2));
  EXPECT_GT(CounterField(out, "#bytes_all", 2), 28 * CounterField(out, "#all", 2));
  EXPECT_EQ(Sample(page, "orvanel_bytes_total{protocol=\"udp\"}"), CounterField(out, "#bytes_all", 2));
  EXPECT_EQ(Sample(page, "orvanel_group_bytes_total{group=\"neither\",protocol=\"udp\"}"),
            CounterField(out, "#bytes_other", 2));
  EXPECT_TRUE(cli->Err().ends_with("orvanel-cli: 0 receive failures, " +
                                   std::to_string(Sample(page, "orvanel_kernel_drops_total")) +
                                   " dropped by the kernel, 0 not listed, 0 interface interruptions, 0 not saved\n"))
      << cli->Err();
}

// A connection to 127.0.0.1:port whose sends and receives wait a second at most.
UniqueFd ConnectTcp(int port) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval limit{1, 0};
  if (setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
      setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
      connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    socket.reset();
  }
  return socket;
}

// Sends head, then piece after piece up to total bytes, until the peer closes
// or a send waits a second; returns the bytes sent.
std::size_t SendUntilRefused(int socket, const std::string& head, const std::string& piece, std::size_t total) {
  std::size_t sent = 0;
  for (std::string_view rest = head; sent < total;) {
    if (rest.empty()) rest = std::string_view(piece).substr(0, std::min(piece.size(), total - sent));
    const ssize_t count = send(socket, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (count <= 0) break;
    sent += static_cast<std::size_t>(count);
    rest.remove_prefix(static_cast<std::size_t>(count));
  }
  return sent;
}

// What the peer sends until it closes or stays silent for a second.
std::string ReadAnswer(int socket) {
  std::string answer;
  char chunk[65536];
  for (ssize_t count; (count = recv(socket, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, count);
  return answer;
}

// The process's resident anonymous memory in KiB; -1 once it is gone.
long long AnonymousKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("RssAnon:")) return std::stoll(line.substr(8));
  }
  return -1;
}

TEST_F(LiveCli, TheEndpointAnswersScrapesWhateverStrangersDo) {
  auto cli = Capture({"--address", "127.0.0.1", "--quiet", "--metrics-listen", "127.0.0.1:0"});
  std::smatch url;
  const std::string err = cli->Err();
  ASSERT_TRUE(std::regex_search(err, url, std::regex("metrics on http://127\\.0\\.0\\.1:([0-9]+)/metrics\n"))) << err;
  const int port = std::stoi(url[1]);
  // Answered while the stranger still holds its connection: the byte-a-second
  // sender holds it for half a minute, far beyond this bound on any machine.
  auto scrapeAnswered = [&](const char* during) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5s);
    client.set_read_timeout(5s);
    const httplib::Result result = client.Get("/metrics");
    EXPECT_TRUE(result && result->status == 200 && result->body.find("orvanel_packets_total") != std::string::npos)
        << during;
  };
  scrapeAnswered("alone");

  // The peak of the exporter's own memory while strangers do their worst.
  const pid_t exporter = cli->Pid();
  const long long before = AnonymousKiB(exporter);
  std::atomic<long long> peak{before};
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done.load()) {
      peak.store(std::max(peak.load(), AnonymousKiB(exporter)));
      std::this_thread::sleep_for(5ms);
    }
  });

  std::vector<UniqueFd> idle;
  for (int i = 0; i < 5; ++i) idle.push_back(ConnectTcp(port));
  const UniqueFd slow = ConnectTcp(port);
  std::thread slowSender([&] {
    for (const char byte : std::string("GET /metrics HTTP/1.1\r\nHost: a\r\n")) {
      if (done.load() || send(slow.get(), &byte, 1, MSG_NOSIGNAL) != 1) return;
      for (int tick = 0; tick < 10 && !done.load(); ++tick) std::this_thread::sleep_for(100ms);
    }
  });
  for (int scrape = 0; scrape < 4; ++scrape) {
    std::this_thread::sleep_for(500ms);
    scrapeAnswered("beside five idle connections and a byte-a-second sender");
  }

  // Each is cut off long before its end; scrapes are answered meanwhile.
  // (What was sent includes what the kernel buffers on loopback, a few MiB.)
  struct Flood {
    const char* what;
    std::string head, piece;
    std::size_t total;
    std::string answer;
  };
  const Flood floods[] = {
      {"a 1 GiB POST", "POST /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: 1073741824\r\n\r\n",
       std::string(65536, 'x'), std::size_t{1} << 30, "HTTP/1.1 405 "},
      {"64 MiB of header lines", "GET /metrics HTTP/1.1\r\n", "X-Flood: " + std::string(1000, 'a') + "\r\n",
       std::size_t{64} << 20, "HTTP/1.1 431 "},
      {"a 32 MiB request line", "GET /", std::string(65536, 'a'), std::size_t{32} << 20, "HTTP/1.1 414 "},
  };
  for (const Flood& flood : floods) {
    const UniqueFd socket = ConnectTcp(port);
    std::size_t sent = 0;
    std::thread sender([&] { sent = SendUntilRefused(socket.get(), flood.head, flood.piece, flood.total); });
    scrapeAnswered(flood.what);
    sender.join();
    EXPECT_LT(sent, std::size_t{16} << 20) << flood.what;
    const std::string answer = ReadAnswer(socket.get());
    EXPECT_TRUE(answer.starts_with(flood.answer)) << flood.what << ": " << answer.substr(0, 100);
  }

  // A multi-range request gets the page once, not once a range.
  const UniqueFd ranges = ConnectTcp(port);
  std::string rangeList = "0-";
  while (rangeList.size() < 8000) rangeList += ",0-";
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: a\r\nRange: bytes=" + rangeList + "\r\n\r\n";
  ASSERT_EQ(send(ranges.get(), request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  const std::string answer = ReadAnswer(ranges.get());
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 ")) << answer.substr(0, 200);
  EXPECT_LT(answer.size(), 16'000u);

  EXPECT_LT(peak.load() - before, 16 * 1024) << "KiB of growth";

  // A stop ends the exporter at once, beside five fresh idle connections and
  // one that never times out: it sends a byte every half second until the end.
  idle.clear();
  for (int i = 0; i < 5; ++i) idle.push_back(ConnectTcp(port));
  const UniqueFd dribbling = ConnectTcp(port);
  std::thread dribbler([&] {
    while (!done.load() && send(dribbling.get(), "G", 1, MSG_NOSIGNAL) == 1) std::this_thread::sleep_for(500ms);
  });
  ASSERT_TRUE(cli->Signal(SIGTERM));
  EXPECT_EQ(cli->Wait(5s), 0) << cli->Err();
  done.store(true);
  dribbler.join();
  sampler.join();
  slowSender.join();
}

// Owner, mode and first four bytes of what name leads to, without following a link.
std::string Described(const fs::path& name) {
  struct stat status {};
  if (lstat(name.c_str(), &status) != 0) return "missing";
  if (S_ISLNK(status.st_mode)) return "link";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", status.st_mode & 07777);
  return "uid " + std::to_string(status.st_uid) + " mode " + mode + " " + FileContents(name).substr(0, 4);
}

TEST_F(LiveCli, OutputFilesAreNewFilesOfTheirOwnWhateverWasPlanted) {
  // A directory shared as /tmp is, where another user planted links to a file
  // of root's, or left files of their own open to all.
  const fs::path shared = directory_ / "shared", precious = directory_ / "precious";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  std::ofstream(precious) << "precious";
  const char* names[] = {"rows.pcapng", "orvanel.prom", "buf_UDP.txt"};
  for (const std::string planted : {"nothing", "links", "foreign files"}) {
    SCOPED_TRACE(planted);
    std::vector<UniqueFd> foreign;  // the foreign files themselves, whatever their names lead to later
    for (const char* name : names) {
      if (planted == "links") fs::create_symlink(precious, shared / name);
      if (planted == "foreign files") {
        std::ofstream(shared / name) << "foreign";
        ASSERT_EQ(chmod((shared / name).c_str(), 0666), 0);
        ASSERT_EQ(chown((shared / name).c_str(), 65534, 65534), 0);
        foreign.emplace_back(open((shared / name).c_str(), O_RDONLY | O_CLOEXEC));
      }
    }
    auto cli = Capture({"--address", "127.0.0.1", "--count", "1", "--quiet", "--show", "src=udp", "--save-last",
                        shared.string(), "--write", (shared / names[0]).string(), "--metrics-file",
                        (shared / names[1]).string()});
    Send({"captured"});
    ASSERT_EQ(cli->Wait(), 0) << cli->Err();

    EXPECT_EQ(FileContents(precious), "precious");
    for (const UniqueFd& file : foreign) {
      char contents[16] = "";
      EXPECT_EQ(pread(file.get(), contents, sizeof contents, 0), 7);
      EXPECT_STREQ(contents, "foreign");
    }
    // The pcapng and metrics files replace whatever stood there; a
    // last-packet file is written only when the name leads to one of its own.
    EXPECT_EQ(Described(shared / names[0]), "uid 0 mode 0600 \x0a\x0d\x0d\x0a");
    EXPECT_EQ(Described(shared / names[1]), "uid 0 mode 0644 # HE");
    EXPECT_EQ(Described(shared / names[2]), planted == "nothing" ? std::string("uid 0 mode 0600 E\0\0$", 20)
                                            : planted == "links" ? "link"
                                                                 : "uid 65534 mode 0666 fore");
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator()), 3) << "files left beside";
    // A refused last-packet file is said, with why, and counted.
    const std::string err = cli->Err();
    const std::string refusal = std::strerror(planted == "links" ? ELOOP : EPERM);
    EXPECT_EQ(err.find("'" + (shared / names[2]).string() + "': " + refusal + "\n") != std::string::npos,
              planted != "nothing")
        << err;
    EXPECT_TRUE(err.ends_with(planted == "nothing" ? " 0 not saved\n" : " 1 not saved\n")) << err;
    for (const char* name : names) fs::remove(shared / name);
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
  std::vector<std::string> arguments = {"/usr/bin/setpriv",
                                        "--bounding-set=-net_raw",
                                        "--inh-caps=-net_raw",
                                        ORVANEL_CLI_PATH,
                                        "--address",
                                        "127.0.0.1",
                                        "--count",
                                        "1"};
  CliProcess cli(arguments, directory_);
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_EQ(cli.Out(), "");
  EXPECT_EQ(cli.Err(),
            "orvanel-cli: cannot create the capture socket (run as root, or add yourself to the "
            "group orvanel, then log in again; see README): Operation not permitted\n");
}

TEST_F(LiveCli, TheExporterUnitsRightsAreEnough) {
  // As orvanel-exporter@.service runs it: not root, no new privileges, and
  // CAP_NET_RAW, given as an ambient capability, its only one.
  CliProcess cli({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--no-new-privs",
                  "--inh-caps=-all,+net_raw", "--ambient-caps=-all,+net_raw", "--bounding-set=-all,+net_raw",
                  ORVANEL_CLI_PATH, "--address", "127.0.0.1", "--count", "2", "--metrics-listen", "127.0.0.1:0"},
                 directory_);
  ASSERT_TRUE(cli.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli.Err();
  // Serving strangers, no thread holds any capability once the socket is open.
  int tasks = 0;
  std::string held;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(cli.Pid()) + "/task")) {
    ++tasks;
    std::istringstream status(FileContents(task.path() / "status"));
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("Cap") && !line.starts_with("CapBnd") && !line.ends_with("\t0000000000000000")) {
        held += task.path().filename().string() + " " + line + "\n";
      }
    }
  }
  EXPECT_GE(tasks, 3) << "the capture thread and the server's";
  EXPECT_EQ(held, "");
  ASSERT_TRUE(SendEchoes("127.0.0.1", 1));
  EXPECT_EQ(cli.Wait(), 0) << cli.Err();
  EXPECT_TRUE(cli.Out().starts_with("#all\t0\t0\t2\t0\n")) << cli.Out();
}

TEST_F(LiveCli, AnInterfaceMadeAgainIsFollowedOrEndsTheExporterForItsUnitToRestart) {
  VethToPeer veth("orvcli", "10.85.0");
  ASSERT_TRUE(veth.ok);
  const UdpEndpoint listener = BindUdp(veth.local);
  const fs::path prom = directory_ / "orvanel.prom";
  auto cli = Start({"--address", veth.local, "--quiet", "--metrics-file", prom.string()});
  ASSERT_TRUE(cli->WaitForError("orvanel-cli: capturing on " + veth.local + "\n")) << cli->Err();
  const std::string udp = "orvanel_packets_total{protocol=\"udp\"}";
  const auto metric = [&](const std::string& series) { return Sample(FileContents(prom), series); };
  ASSERT_TRUE(veth.SendFromPeer(veth.remote, veth.local, listener.port, 3));
  EXPECT_TRUE(WaitUntil([&] { return metric(udp) == 3; })) << metric(udp);

  // Made again: the same run counts on, and tells of the gap.
  ASSERT_TRUE(RunCommand("ip link del " + veth.here));
  EXPECT_TRUE(WaitUntil([&] { return metric("orvanel_interface_interruptions_total") == 1; }));
  ASSERT_TRUE(veth.Recreate());
  EXPECT_TRUE(WaitUntil([&] {
    EXPECT_TRUE(veth.SendFromPeer(veth.remote, veth.local, listener.port, 1));
    std::this_thread::sleep_for(50ms);
    return metric(udp) > 3;
  }));
  ASSERT_TRUE(cli->Signal(SIGTERM));
  ASSERT_EQ(cli->Wait(), 0) << cli->Err();
  EXPECT_GT(CounterField(cli->Out(), "#all", 2), 3);
  EXPECT_EQ(metric(udp), CounterField(cli->Out(), "#all", 2));
  EXPECT_EQ(metric("orvanel_interface_interruptions_total"), 1);
  // At most the one failure of the link going down.
  EXPECT_TRUE(std::regex_search(cli->Err(), std::regex("orvanel-cli: [01] receive failures, 0 dropped by the kernel, "
                                                       "0 not listed, 1 interface interruptions, 0 not saved\n$")))
      << cli->Err();

  // As the unit runs it: the address is waited for, not refused; once the
  // rights are given up the interface cannot be followed, and status 1 has
  // the unit start it again.
  VethToPeer later("orvunit", "10.86.0");  // gone at the start, made again while the run waits
  ASSERT_TRUE(later.ok && RunCommand("ip link del " + later.here));
  CliProcess unit(
      {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--no-new-privs",
       "--inh-caps=-all,+net_raw", "--ambient-caps=-all,+net_raw", "--bounding-set=-all,+net_raw", ORVANEL_CLI_PATH,
       "--address", later.local, "--wait-for-address", "--quiet", "--metrics-listen", "127.0.0.1:0"},
      directory_);
  ASSERT_TRUE(unit.WaitForError("orvanel-cli: waiting for 10.86.0.1 to be an address of this machine\n")) << unit.Err();
  EXPECT_TRUE(unit.Running());
  ASSERT_TRUE(later.Recreate());
  ASSERT_TRUE(unit.WaitForError("orvanel-cli: capturing on 10.86.0.1\n")) << unit.Err();
  ASSERT_TRUE(RunCommand("ip link del " + later.here));
  EXPECT_EQ(unit.Wait(), 1) << unit.Err();
  EXPECT_TRUE(std::regex_search(unit.Err(), std::regex("[01] receive failures, 0 dropped by the kernel, 0 not listed, "
                                                       "1 interface interruptions, 0 not saved\n"
                                                       "orvanel-cli: the interface of 10\\.86\\.0\\.1 went away\n$")))
      << unit.Err();
}

TEST_F(LiveCli, RootServingMetricsCannotWinItsRightsBack) {
  CliProcess cli({ORVANEL_CLI_PATH, "--address", "127.0.0.1", "--count", "1", "--metrics-listen", "127.0.0.1:0"},
                 directory_);
  ASSERT_TRUE(cli.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli.Err();
  const std::string status = FileContents("/proc/" + std::to_string(cli.Pid()) + "/status");
  // No execve can add capabilities now; with SECBIT_NOROOT root gets none from one either.
  for (const char* line : {"\nNoNewPrivs:\t1\n", "\nCapPrm:\t0000000000000000\n", "\nCapEff:\t0000000000000000\n"}) {
    EXPECT_NE(status.find(line), std::string::npos) << line << status;
  }
  ASSERT_TRUE(SendEchoes("127.0.0.1", 1));
  EXPECT_EQ(cli.Wait(), 0) << cli.Err();
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
  ASSERT_TRUE(
      RunCommand("ip link add orvd0 type veth peer name orvd1 && ip addr add 192.0.2.1/24 dev orvd0 && "
                 "ip addr add 192.0.2.9/24 dev orvd0 && ip addr add 198.51.100.1/24 dev orvd1 && "
                 "ip link set orvd0 up && ip link set orvd1 up"));
  ASSERT_TRUE(RunCommand("ip link add orvd2 type veth peer name orvd3 && ip addr add 203.0.113.1/24 dev orvd2"));
  // Interface order: the kernel makes the peer end (orvd1) first.
  EXPECT_EQ(list(), "198.51.100.1\n192.0.2.1\n192.0.2.9\n127.0.0.1\n");
  // A fresh namespace, where not even loopback is up.
  CliProcess none({"/usr/bin/unshare", "--net", ORVANEL_CLI_PATH, "--list-addresses"}, directory_);
  EXPECT_EQ(none.Wait(), 1);
  EXPECT_EQ(none.Out(), "");
  EXPECT_EQ(none.Err(), "orvanel-cli: no usable network connection: no interface with an IPv4 address is up\n");
}

}  // namespace
}  // namespace orvanel::test
