// Capturing through the orvanel-socket helper: root captures in its own
// process; an unprivileged caller has the helper, which holds cap_net_raw
// alone, capture for it and gets only counts and rows, never a socket; at
// most four such captures per user; a helper that is missing, powerless,
// broken or killed means no capture, or one that ends with a receive
// failure; the helper takes nothing but its argument, its channel and its
// block, and confines itself; installed, it is for root and the group
// orvanel only. Runs as root in a network namespace of its own.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "capture/spool_layout.h"
#include "net/capture_block.h"
#include "net/capture_socket.h"
#include "net/counted_ring.h"
#include "net/row_ring.h"
#include "net/socket_helper.h"
#include "net/spool_file_writer.h"
#include "session/capture_session.h"
#include "session/helper_capture.h"
#include "storage/row_spool.h"
#include "tests/support/cli_process.h"
#include "tests/support/recording_table.h"
#include "tests/support/test_network.h"
#include "tests/support/test_process.h"
#include "tests/support/test_traffic.h"
#include "tests/support/veth_to_peer.h"

namespace orvanel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;
constexpr char kNotLocal[] = "10.1.2.3";  // the namespace has loopback only
constexpr fs::perms kOpenToAll = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec;

bool IsPacketSocket(int fd) {
  int domain = 0;
  socklen_t length = sizeof domain;
  return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_PACKET;
}

// Copies of the built helper, with and without the capability, and stand-ins
// for broken helpers, in a directory every user can reach.
class HelperCopies : public testing::Test {
 protected:
  HelperCopies() {
    fs::permissions(directory_, kOpenToAll);
    fs::copy_file(ORVANEL_HELPER_PATH, capable);
    fs::copy_file(ORVANEL_HELPER_PATH, plain);
    // Open to all even when the built helper was closed to its group.
    for (const fs::path& copy : {capable, plain}) fs::permissions(copy, kOpenToAll);
    fs::copy_file(ORVANEL_HELPER_PATH, notExecutable);
    fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
    granted_ = RunCommand("setcap cap_net_raw=ep " + capable.string());
  }

  void SetUp() override { ASSERT_TRUE(granted_) << "setcap failed"; }

  // A shell script standing in for the helper.
  [[nodiscard]] std::string Script(const std::string& name, const std::string& body) const {
    const fs::path path = directory_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }

  const ScratchDirectory scratch_{"orvanel-privsep"};
  const fs::path directory_ = scratch_.path();
  const fs::path capable = directory_ / "capable";
  const fs::path plain = directory_ / "plain";
  const fs::path notExecutable = directory_ / "not-executable";

 private:
  bool granted_ = false;
};

// Runs work in a child that has become nobody (which drops every
// capability) and returns what it wrote, or a note on how it ended.
std::string AsNobody(const std::function<std::string()>& work) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);  // a hung receive ends the child, not the test run
    std::string report;
    if (setgroups(0, nullptr) != 0 || setresgid(kNoGroup, kNoGroup, kNoGroup) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      report = "cannot become nobody";
    } else {
      report = work();
    }
    (void)!write(pipeEnds[1], report.data(), report.size());
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string report;
  char chunk[256];
  for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) report.append(chunk, static_cast<std::size_t>(n));
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status)) report += " [child killed by signal " + std::to_string(WTERMSIG(status)) + "]";
  return report;
}

// The packet sockets this process holds.
int PacketSocketsHeld() {
  int held = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    if (IsPacketSocket(std::stoi(entry.path().filename()))) ++held;
  }
  return held;
}

bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// Where a capture puts what it finds, for a test.
struct Targets {
  PacketCounters counters;
  AtomicCaptureOptions boxes;
  RecordingTable table;
  std::atomic<std::uint64_t> drops{0}, interruptions{0}, notPassed{0}, countedNotPassed{0};
  LoopTargets loop{counters, boxes, table, ""};

  Targets() {
    boxes.Set(CaptureOption::SourceEnable, kChecked);
    boxes.Set(CaptureOption::SourceUDP, kChecked);
  }
  // The outcome's text; a started capture is kept in capture.
  std::string Start(const std::string& helper, const std::string& address, std::unique_ptr<HelperCapture>& capture,
                    std::uint32_t limit = 0) {
    const StartOutcome outcome = HelperCapture::Start(helper, address, "", "", limit, loop,
                                                      {drops, interruptions, notPassed, countedNotPassed}, capture);
    if (capture) capture->Run();
    return StartOutcomeText(outcome);
  }
  std::string Start(const std::string& helper, const std::string& address) {
    std::unique_ptr<HelperCapture> capture;
    return Start(helper, address, capture);
  }
};

const std::string kStarted = "capture started";
const std::string kNoSocket(StartResultMeaning(StartResult::SocketCreationFailed));

TEST_F(HelperCopies, RootCapturesInItsOwnProcess) {
  ASSERT_TRUE(HoldsCaptureRight());
  Targets targets;
  CaptureSession session(targets.counters, targets.boxes, targets.table, "");
  session.UseSocketHelper("/nonexistent");
  EXPECT_EQ(session.StartCapture("127.0.0.1", "", "").result, StartResult::Started);
  EXPECT_EQ(session.HelperPid(), -1);
  session.StopCapture();
  EXPECT_EQ(session.StartCapture(kNotLocal, "", "").result, StartResult::NoAddressChosen);
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(HelperCopies, TheHelperAnswersAsTheInProcessStartWould) {
  const int descriptors = CountDescriptors();
  const std::string addresses[] = {"127.0.0.1",  kNotLocal,         "",          "127.0.0.1 ",
                                   " 127.0.0.1", "127.0.0.1;id",    "::1",       "127.1",
                                   "0x7f.0.0.1", "127.000.000.001", "localhost", std::string(5000, '7')};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    Targets targets;
    EXPECT_EQ(targets.Start(plain.string(), address), StartOutcomeText(OpenCaptureSocket(address).Outcome()));
  }
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(HelperCopies, AHelperThatCannotDoItsWorkMeansNoCapture) {
  Targets targets;
  // Replies are read: a well-formed refusal comes through as it is, errno
  // included. (The request is read first: a socket closed with a message
  // unread resets the channel.)
  EXPECT_EQ(
      targets.Start(Script("refuses", R"(head -c1 <&3 >/dev/null; printf 'SVRO\004\000\000\000\000\000\000\000' >&3)"),
                    "127.0.0.1"),
      StartResultMeaning(StartResult::NoAddressChosen));
  EXPECT_EQ(
      targets.Start(Script("unbound", R"(head -c1 <&3 >/dev/null; printf 'SVRO\005\000\000\000\023\000\000\000' >&3)"),
                    "127.0.0.1"),
      std::string(StartResultMeaning(StartResult::BindFailed)) + ": No such device");
  const std::map<std::string, std::string> broken = {
      {"missing", (directory_ / "missing").string()},
      {"no path", ""},
      {"relative path", fs::relative(plain).string()},
      {"not executable", notExecutable.string()},
      {"a directory", directory_.string()},
      {"exits silently", Script("silent", "exit 0")},
      {"crashes", Script("crashes", "kill -SEGV $$")},
      {"garbage reply", Script("garbage", "printf 'garbage, not a reply' >&3")},
      {"short reply", Script("short", R"(printf 'SVRO' >&3)")},
      {"old reply", Script("old", R"(printf 'SVRO\004\000\000\000' >&3)")},
      {"wrong mark", Script("mark", R"(printf 'XVRO\004\000\000\000\000\000\000\000' >&3)")},
      {"unknown result", Script("unknown", R"(printf 'SVRO\011\000\000\000\000\000\000\000' >&3)")},
      {"unknown errno", Script("errno", R"(printf 'SVRO\004\000\000\000\377\377\377\377' >&3)")},
  };
  // Why the helper could not be had is said when it is known.
  const std::map<std::string, std::string> causes = {{"missing", ": No such file or directory"},
                                                     {"no path", ": No such file or directory"},
                                                     {"relative path", ": No such file or directory"},
                                                     {"not executable", ": Permission denied"},
                                                     {"a directory", ": Permission denied"}};
  const int descriptors = CountDescriptors();
  for (const auto& [what, helper] : broken) {
    const auto cause = causes.find(what);
    EXPECT_EQ(targets.Start(helper, "127.0.0.1"), kNoSocket + (cause != causes.end() ? cause->second : "")) << what;
  }
  // Started, then gone before its loop ended: one receive failure, and the capture is over.
  std::unique_ptr<HelperCapture> capture;
  EXPECT_EQ(
      targets.Start(Script("vanishes", R"(head -c1 <&3 >/dev/null; printf 'SVRO\000\000\000\000\000\000\000\000' >&3)"),
                    "127.0.0.1", capture),
      kStarted);
  EXPECT_TRUE(WaitUntil([&] { return capture->LoopLeft(); }));
  EXPECT_EQ(targets.counters.ReceiveErrors(), 1);
  capture.reset();
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_TRUE(NoChildLeft());
}

// As a member of the group would: the helper captures, and nothing that can
// capture or send comes back; a fifth capture at once is refused.
TEST_F(HelperCopies, AnUnprivilegedCallerCapturesThroughTheHelper) {
  const std::string report = AsNobody([&] {
    std::ostringstream out;
    out << "right " << HoldsCaptureRight() << "\n";
    out << "itself: " << StartOutcomeText(OpenCaptureSocket("127.0.0.1").Outcome()) << "\n";
    Targets targets;
    out << "helper without capability: " << targets.Start(plain, "127.0.0.1") << "\n";
    out << "not local: " << targets.Start(capable, kNotLocal) << "\n";
    out << "garbage: " << targets.Start(capable, "127.0.0.1\n-v") << "\n";
    std::unique_ptr<HelperCapture> captures[kCapturesPerUser];
    for (auto& capture : captures) out << "helper: " << targets.Start(capable, "127.0.0.1", capture, 3) << "\n";
    out << "fifth: " << targets.Start(capable, "127.0.0.1") << "\n";
    out << "packet sockets here: " << PacketSocketsHeld() << "\n";
    const UdpEndpoint server = BindUdp("127.0.0.1"), client = BindUdp("127.0.0.1");
    for (const char* payload : {"one", "two", "three"}) SendUdp(client, "127.0.0.1", server.port, payload);
    for (auto& capture : captures) {
      if (!capture || !WaitUntil([&] { return capture->LoopLeft(); })) out << "a capture did not end\n";
    }
    captures[0].reset();
    out << "after one ended: " << targets.Start(capable, "127.0.0.1") << "\n";
    for (auto& capture : captures) capture.reset();
    out << "counted " << targets.counters.Count(TrafficGroup::All, ProtocolClass::UDP) << " errors "
        << targets.counters.ReceiveErrors() << " rows " << targets.table.CountRows("UDP", 6, "one") << " "
        << targets.table.CountRows("UDP", 6, "two") << " " << targets.table.CountRows("UDP", 6, "three") << "\n";
    // Twice the limit started at once: never more than the limit, and not none.
    std::unique_ptr<Targets> each[2 * kCapturesPerUser];
    std::unique_ptr<HelperCapture> together[2 * kCapturesPerUser];
    std::atomic<int> started{0};
    std::vector<std::thread> starters;
    for (int i = 0; i < 2 * kCapturesPerUser; ++i) {
      each[i] = std::make_unique<Targets>();
      starters.emplace_back([&, i] { started += each[i]->Start(capable, "127.0.0.1", together[i]) == kStarted; });
    }
    for (std::thread& starter : starters) starter.join();
    out << "at once " << (started >= 1 && started <= kCapturesPerUser) << "\n";
    for (auto& capture : together) capture.reset();
    return out.str();
  });
  const std::string refused(StartResultMeaning(StartResult::TooManyCaptures));
  EXPECT_EQ(report,
            "right 0\n"
            "itself: " +
                kNoSocket +
                ": Operation not permitted\n"
                "helper without capability: " +
                kNoSocket +
                ": Operation not permitted\n"
                "not local: " +
                std::string(StartResultMeaning(StartResult::NoAddressChosen)) +
                "\n"
                "garbage: " +
                std::string(StartResultMeaning(StartResult::NoAddressChosen)) +
                "\n"
                "helper: capture started\nhelper: capture started\nhelper: capture started\nhelper: capture started\n"
                "fifth: " +
                refused +
                "\n"
                "packet sockets here: 0\n"
                "after one ended: capture started\n"
                "counted 12 errors 0 rows 4 4 4\n"
                "at once 1\n");
}

// While it captures: what it holds and what it may still do.
TEST_F(HelperCopies, TheHelperHoldsOnlyWhatItsCaptureNeedsAndConfinesItself) {
  int marker[2];  // inheritable, as a careless caller's descriptors would be
  ASSERT_EQ(pipe(marker), 0);
  const UniqueFd markerRead(marker[0]), markerWrite(marker[1]);
  setenv("LD_PRELOAD", "/nonexistent/orvanel-preload.so", 1);
  setenv("QT_PLUGIN_PATH", directory_.c_str(), 1);
  Targets targets;
  std::unique_ptr<HelperCapture> capture;
  const std::string started = targets.Start(plain.string(), "127.0.0.1", capture);
  unsetenv("LD_PRELOAD");
  unsetenv("QT_PLUGIN_PATH");
  ASSERT_EQ(started, kStarted);

  const fs::path process = "/proc/" + std::to_string(capture->HelperPid());
  std::multiset<std::string> held;  // what each descriptor past the channel is
  std::map<int, std::string> low;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(process / "fd", error)) {
    const int fd = std::stoi(entry.path().filename());
    std::string target = fs::read_symlink(entry.path(), error).string();
    if (fd <= kHelperChannelFd) {
      low[fd] = target;
    } else {
      held.insert(target.substr(0, target.find(':')));
    }
  }
  EXPECT_EQ(low[0], "/dev/null");
  EXPECT_EQ(low[1], "/dev/null");
  EXPECT_EQ(low[2], "/dev/null");
  EXPECT_TRUE(low[kHelperChannelFd].starts_with("socket:"));
  // The capture socket, its wake-up and its user's slot; the block's memfd is mapped and closed.
  EXPECT_EQ(held, (std::multiset<std::string>{"anon_inode", "socket", "socket"}));
  EXPECT_EQ(FileContents(process / "environ"), "");
  const std::string status = FileContents(process / "status");
  for (const char* line : {"\nNoNewPrivs:\t1\n", "\nSeccomp:\t2\n", "\nCapInh:\t0000000000000000\n",
                           "\nCapPrm:\t0000000000002000\n", "\nCapEff:\t0000000000002000\n"}) {
    EXPECT_NE(status.find(line), std::string::npos) << line << status;
  }
}

// The helper killed mid-capture, as by the OOM killer or its own filter:
// the session the dialog runs counts one receive failure, ends the capture
// and starts the next one.
TEST_F(HelperCopies, AHelperKilledMidCaptureEndsItWithAReceiveFailure) {
  const std::string report = AsNobody([&] {
    std::ostringstream out;
    Targets targets;
    CaptureSession session(targets.counters, targets.boxes, targets.table, "");
    session.UseSocketHelper(capable);
    out << StartOutcomeText(session.StartCapture("127.0.0.1", "", "")) << "\n";
    kill(session.HelperPid(), SIGKILL);
    out << "ended " << WaitUntil([&] { return session.LoopEnded(); }) << "\n";
    session.StopCapture();
    out << "errors " << targets.counters.ReceiveErrors() << "\n";
    out << StartOutcomeText(session.StartCapture("127.0.0.1", "", "")) << "\n";
    const UdpEndpoint server = BindUdp("127.0.0.1"), client = BindUdp("127.0.0.1");
    SendUdp(client, "127.0.0.1", server.port, "again");
    out << "counted again " << WaitUntil([&] { return targets.table.CountRows("UDP", 6, "again") == 1; }) << "\n";
    session.StopCapture();
    return out.str();
  });
  EXPECT_EQ(report, "capture started\nended 1\nerrors 1\ncapture started\ncounted again 1\n");
}

// Through the helper into a spool, as the dialog lists: a Clear starts the
// list anew at once, and a capture whose interface is deleted and made
// again goes on there with a new helper, its rows after those it had.
TEST_F(HelperCopies, ACaptureThroughTheHelperOutlivesItsInterfaceAndGoesOnInTheSameList) {
  test::VethToPeer veth("orvhlp", "10.82.0");
  ASSERT_TRUE(veth.ok);
  const UdpEndpoint server = BindUdp(veth.local);
  const auto spool = RowSpool::Create((directory_ / "spool").string());
  ASSERT_NE(spool, nullptr);
  Targets targets;
  CaptureSession session(targets.counters, targets.boxes, *spool, "");
  session.UseSocketHelper(capable);
  ASSERT_TRUE(test::DropNetRawOnThisThread());
  ASSERT_EQ(session.StartCapture(veth.local, "", "").result, StartResult::Started);
  const auto udp = [&] { return targets.counters.Count(TrafficGroup::All, ProtocolClass::UDP); };
  const auto listed = [&] { return static_cast<std::int64_t>(spool->Read().RowCount()); };
  ASSERT_TRUE(veth.SendFromPeer(veth.remote, veth.local, server.port, 5));
  ASSERT_TRUE(WaitUntil([&] { return udp() == 5 && listed() == 5; })) << udp() << " " << listed();
  spool->Clear();
  ASSERT_TRUE(veth.SendFromPeer(veth.remote, veth.local, server.port, 3));
  ASSERT_TRUE(WaitUntil([&] { return udp() == 8 && listed() == 3; }))
      << udp() << " " << listed() << " " << session.RowsNotPassed();

  const pid_t first = session.HelperPid();
  ASSERT_TRUE(RunCommand("ip link del " + veth.here));
  ASSERT_TRUE(WaitUntil([&] { return session.InterfaceInterruptions() == 1 && session.HelperPid() == -1; }))
      << session.InterfaceInterruptions() << " " << session.HelperPid() << " " << targets.counters.ReceiveErrors();
  EXPECT_TRUE(session.IsCapturing());
  EXPECT_FALSE(session.LoopEnded());
  ASSERT_TRUE(veth.Recreate());
  std::int32_t probes = 0;
  ASSERT_TRUE(WaitUntil([&] {
    if (udp() > 8) return true;
    probes += veth.SendFromPeer(veth.remote, veth.local, server.port, 1);
    std::this_thread::sleep_for(20ms);
    return false;
  }));
  EXPECT_NE(session.HelperPid(), first);
  const std::int32_t resumed = udp();
  ASSERT_TRUE(veth.SendFromPeer(veth.remote, veth.local, server.port, 5));
  // Listed: all but the 5 before the Clear.
  ASSERT_TRUE(WaitUntil([&] { return udp() == resumed + 5 && listed() == resumed; }))
      << udp() << " " << listed() << " of " << probes << " probes";
  session.StopCapture();
  const RowSpool::Reader rows = spool->Read();
  bool inOrder = true;
  for (std::size_t index = 1; index < rows.RowCount(); ++index) {
    inOrder = inOrder && rows.Row(index - 1).captureTimeNs <= rows.Row(index).captureTimeNs;
  }
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(session.InterfaceInterruptions(), 1u);
  EXPECT_LE(targets.counters.ReceiveErrors(), 1);
  EXPECT_TRUE(NoChildLeft());
}

// orvanel-cli run by nobody finds the helper where it is installed beside it
// (the build's layout, copied) and captures through it, or says it cannot.
class CliBesideHelper : public HelperCopies {
 protected:
  CliBesideHelper() {
    fs::create_directories(cli_.parent_path());
    fs::create_directories(cliHelper_.parent_path());
    fs::create_directories(output_);
    fs::copy_file(ORVANEL_CLI_PATH, cli_);
  }

  [[nodiscard]] std::vector<std::string> CliAsNobody(const std::vector<std::string>& options) const {
    std::vector<std::string> command = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                        cli_.string(),      "--address",      "127.0.0.1"};
    command.insert(command.end(), options.begin(), options.end());
    return command;
  }
  [[nodiscard]] bool PutCapableHelperBesideCli() const {
    fs::copy_file(capable, cliHelper_);
    return RunCommand("setcap cap_net_raw=ep " + cliHelper_.string());  // copies lose it
  }

  const fs::path cli_ = directory_ / "bin" / "orvanel-cli";
  const fs::path cliHelper_ =
      directory_ / "bin" /
      fs::path(ORVANEL_HELPER_PATH).parent_path().lexically_relative(fs::path(ORVANEL_CLI_PATH).parent_path()) /
      "orvanel-socket";
  const fs::path output_ = directory_ / "output";
};

// The children of a process, from every thread of it.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(parent) + "/task", error)) {
    std::istringstream list(FileContents(task.path() / "children"));
    for (pid_t child; list >> child;) children.push_back(child);
  }
  return children;
}

TEST_F(CliBesideHelper, OrvanelCliRunByNobodyCapturesThroughTheHelperBesideIt) {
  const std::vector<std::string> command = CliAsNobody({"--count", "2", "--show", "src=udp"});
  const std::string noSocket = "orvanel-cli: " + std::string(StartResultMeaning(StartResult::SocketCreationFailed));
  {
    CliProcess withoutHelper(command, output_);
    EXPECT_EQ(withoutHelper.Wait(), 1);
    EXPECT_EQ(withoutHelper.Err(), noSocket + ": No such file or directory\n");
  }
  fs::copy_file(plain, cliHelper_);
  {
    CliProcess powerlessHelper(command, output_);
    EXPECT_EQ(powerlessHelper.Wait(), 1);
    EXPECT_EQ(powerlessHelper.Err(), noSocket + ": Operation not permitted\n");
  }
  fs::remove(cliHelper_);
  ASSERT_TRUE(PutCapableHelperBesideCli());
  CliProcess capturing(command, output_);
  ASSERT_TRUE(capturing.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << capturing.Err();
  const UdpEndpoint server = BindUdp("127.0.0.1"), client = BindUdp("127.0.0.1");
  for (const char* payload : {"one", "two"}) ASSERT_TRUE(SendUdp(client, "127.0.0.1", server.port, payload));
  ASSERT_EQ(capturing.Wait(), 0) << capturing.Err();
  const std::string ports =
      "\t127.0.0.1\t" + std::to_string(client.port) + "\t127.0.0.1\t" + std::to_string(server.port) + "\t";
  EXPECT_EQ(capturing.Out(), "UDP" + ports + "31\tone\nUDP" + ports +
                                 "31\ttwo\n#all\t0\t2\t0\t0\n#src\t0\t2\t0\t0\n#dst\t0\t2\t0\t0\n"
                                 "#other\t0\t0\t0\t0\n#errors\t0\n#bytes_all\t0\t62\t0\t0\n"
                                 "#bytes_src\t0\t62\t0\t0\n#bytes_dst\t0\t62\t0\t0\n#bytes_other\t0\t0\t0\t0\n");
}

// Its helper killed mid-capture: the cli says so in its loss line and ends
// as a capture does, with the counters.
TEST_F(CliBesideHelper, OrvanelCliReportsItsHelperKilled) {
  ASSERT_TRUE(PutCapableHelperBesideCli());
  CliProcess capturing(CliAsNobody({"--quiet"}), output_);
  ASSERT_TRUE(capturing.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << capturing.Err();
  const std::vector<pid_t> helpers = ChildrenOf(capturing.Pid());
  ASSERT_EQ(helpers.size(), 1u);
  ASSERT_EQ(kill(helpers[0], SIGKILL), 0);
  ASSERT_EQ(capturing.Wait(), 0) << capturing.Err();
  EXPECT_TRUE(
      capturing.Err().ends_with("orvanel-cli: 1 receive failures, 0 dropped by the kernel, 0 not listed, 0 interface "
                                "interruptions, 0 not saved\n"))
      << capturing.Err();
  EXPECT_NE(capturing.Out().find("#errors\t1\n"), std::string::npos) << capturing.Out();
}

// The rows' way from the helper: in order across the ring's end, counted
// when there is no room, and refused when the block holds what no writer of
// ours wrote (the helper or the caller may be broken; neither may crash the other).
TEST(RowRing, PassesRowsInOrderAndRefusesWhatNoWriterWrote) {
  const auto shared = SharedCaptureBlock::Create();
  ASSERT_NE(shared, nullptr);
  CaptureBlock& block = shared->Block();
  RowRingWriter writer(block);
  RowRingReader reader(block);
  std::vector<std::uint8_t> bytes(kReceiveBufferSize);
  std::uint64_t written = 0, read = 0;
  bool inOrder = true;
  const RowRingReader::Take take = [&](std::span<const std::uint8_t> datagram, std::int64_t timeNs) {
    inOrder = inOrder && timeNs == static_cast<std::int64_t>(read) &&
              datagram.size() == 20 + read % (kReceiveBufferSize - 20) &&
              (datagram.empty() || datagram.back() == static_cast<std::uint8_t>(read));
    ++read;
  };
  // Three times round the ring, taken now and then.
  while (written * 1024 < 3 * kRowRingBytes) {
    const std::size_t length = 20 + written % (kReceiveBufferSize - 20);
    bytes[length - 1] = static_cast<std::uint8_t>(written);
    ListedRow row;
    row.datagram = {bytes.data(), length};
    row.captureTimeNs = static_cast<std::int64_t>(written++);
    writer.AddRow(row);
    if (written % 5000 == 0) {
      ASSERT_TRUE(reader.Drain(take));
    }
  }
  ASSERT_TRUE(reader.Drain(take));
  EXPECT_EQ(read, written);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(block.rowsNotPassed.load(), 0u);
  // Nothing taken: rows past the ring's room are counted, not written.
  ListedRow full;
  full.datagram = {bytes.data(), bytes.size()};
  for (std::size_t row = 0; row < kRowRingBytes / bytes.size(); ++row) writer.AddRow(full);
  EXPECT_GT(block.rowsNotPassed.load(), 0u);
  ASSERT_TRUE(reader.Drain([](std::span<const std::uint8_t>, std::int64_t) {}));
  // A length no datagram has, and a read count from nowhere.
  writer.AddRow(full);
  const std::uint32_t tooLong[2] = {kReceiveBufferSize + 1, 0};  // length, and no skip
  std::memcpy(block.ring + block.ringRead.load() % kRowRingBytes, tooLong, sizeof tooLong);
  EXPECT_FALSE(reader.Drain([](std::span<const std::uint8_t>, std::int64_t) {}));
  block.ringRead.store(block.ringWritten.load() + 12345);
  const std::uint64_t refused = block.rowsNotPassed.load();
  writer.AddRow(full);
  EXPECT_EQ(block.rowsNotPassed.load(), refused + 1);
}

// Every counted packet's way from the helper into the conversations:
// runs of one flow and direction share a record, and every packet, byte
// and time arrives across the ring's end; packets with no room are
// counted, and garbage is refused.
TEST(CountedRing, PassesEveryCountedPacketInRunsAndRefusesWhatNoWriterWrote) {
  const auto shared = SharedCaptureBlock::Create();
  ASSERT_NE(shared, nullptr);
  CaptureBlock& block = shared->Block();
  CountedRingWriter writer(block);
  CountedRingReader reader(block);
  ConversationTable table;
  IpHeaderView view{};
  view.bytes[9] = kProtocolUDP;
  ListedRow row;
  row.hasPorts = true;
  // Each direction of one conversation in turn, in runs of 1 to 99 packets
  // (past a record's longest run), each packet a length of its own.
  std::uint64_t sent[2] = {0, 0}, bytes[2] = {0, 0};
  std::int64_t time = 1000;
  for (std::uint64_t run = 0; sent[0] + sent[1] < 3 * kCountedRingRecords; ++run) {
    const int direction = static_cast<int>(run % 2);
    for (std::uint8_t octet = 0; octet < 4; ++octet) {
      view.bytes[12 + octet] = static_cast<std::uint8_t>(10 + direction * (octet == 3));
      view.bytes[16 + octet] = static_cast<std::uint8_t>(10 + (1 - direction) * (octet == 3));
    }
    row.sourcePort = direction == 0 ? 7 : 9;
    row.destinationPort = direction == 0 ? 9 : 7;
    for (std::uint64_t packet = 0; packet < 1 + run % 99; ++packet) {
      row.totalLength = static_cast<std::uint16_t>(28 + (run + packet) % 1000);
      row.captureTimeNs = ++time;
      writer.Count(view, row);
      ++sent[direction];
      bytes[direction] += row.totalLength;
    }
    if (run % 1000 == 0) {
      ASSERT_TRUE(reader.Drain(&table));
    }
  }
  writer.Flush();
  ASSERT_TRUE(reader.Drain(&table));
  ASSERT_EQ(table.Held(), 1u);
  table.ForEach([&](ConversationId, const Conversation& c) {
    EXPECT_EQ(c.packetsAToB, sent[0]);
    EXPECT_EQ(c.packetsBToA, sent[1]);
    EXPECT_EQ(c.bytesAToB, bytes[0]);
    EXPECT_EQ(c.bytesBToA, bytes[1]);
    EXPECT_EQ(c.firstNs, 1001);
    EXPECT_EQ(c.lastNs, time);
  });
  // Nothing taken: one ring's worth of records fits, the packets of the next are counted.
  for (std::size_t record = 0; record <= kCountedRingRecords; ++record) {
    row.captureTimeNs = ++time;
    row.sourcePort = static_cast<std::uint16_t>(record);  // a flow of its own
    writer.Count(view, row);
  }
  writer.Flush();
  EXPECT_EQ(block.countedNotPassed.load(), 1u);
  ASSERT_TRUE(reader.Drain(nullptr));
  // A time no clock gives, and a written count from nowhere.
  row.captureTimeNs = -1;
  writer.Count(view, row);
  writer.Flush();
  EXPECT_FALSE(reader.Drain(&table));
  block.countedWritten.store(block.countedRead.load() + kCountedRingRecords + 1);
  EXPECT_FALSE(reader.Drain(&table));
}

// Rows listed straight into a list's files: what the helper appends within
// the room it was given is published in order after the rows there were,
// rows past the room are counted, rows captured since a Clear move to its
// files; what is not a list file, or entries out of place, are refused.
TEST(ListFiles, TakeRowsWithinTheirRoomAndRefuseWhatIsNotAListFile) {
  const ScratchDirectory scratch{"orvanel-list-files"};
  const auto shared = SharedCaptureBlock::Create();
  ASSERT_NE(shared, nullptr);
  CaptureBlock& block = shared->Block();
  SpoolFileWriter writer(block);
  std::uint64_t handed = 0;
  const auto hand = [&](SpoolFiles& files, std::uint64_t dataRoom, std::int64_t clearedAtNs = 0) {
    block.roomFiles.store(++handed);
    block.dataRoom.store(dataRoom);
    block.indexRoom.store(files.KeepRoomAhead().indexBytes);
    const bool handed = writer.Hand({UniqueFd(dup(files.DataFd())), UniqueFd(dup(files.IndexFd())), files.RowCount(),
                                     files.DataUsed(), clearedAtNs});
    writer.TakeHandedFiles();
    return handed;
  };
  std::vector<std::uint8_t> bytes(100);
  const auto add = [&](std::int64_t timeNs) {
    bytes[0] = static_cast<std::uint8_t>(timeNs);
    ListedRow row;
    row.datagram = bytes;
    row.captureTimeNs = timeNs;
    writer.AddRow(row);
  };
  auto files = SpoolFiles::Open(scratch.path(), {0, 0});
  ASSERT_NE(files, nullptr);
  ListedRow there;
  there.datagram = {bytes.data(), 60};
  ASSERT_EQ(files->Append(there), SpoolFiles::Appended::Yes);
  ASSERT_TRUE(hand(*files, files->KeepRoomAhead().dataBytes));
  for (std::int64_t time = 1; time <= 1000; ++time) add(time);
  EXPECT_EQ(block.listFilesTaken.load(), handed);
  ASSERT_TRUE(files->Publish(block.listRows.load(), block.listDataUsed.load()));
  ASSERT_EQ(files->RowCount(), 1001u);
  bool inOrder = files->Row(0).datagram.size() == 60;
  for (std::size_t index = 1; index < files->RowCount(); ++index) {
    const SpoolFiles::StoredRow row = files->Row(index);
    inOrder = inOrder && row.captureTimeNs == static_cast<std::int64_t>(index) && row.datagram.size() == 100 &&
              row.datagram[0] == static_cast<std::uint8_t>(index);
  }
  EXPECT_TRUE(inOrder);

  // Fresh files after a Clear at time 901, with room for one row: the rows
  // since go there, one fits and the rest are counted.
  auto fresh = SpoolFiles::Open(scratch.path(), {0, 0});
  ASSERT_NE(fresh, nullptr);
  ASSERT_TRUE(hand(*fresh, 150, 901));
  add(1001);
  EXPECT_EQ(block.rowsNotPassed.load(), 100u);
  ASSERT_TRUE(fresh->Publish(block.listRows.load(), block.listDataUsed.load()));
  ASSERT_EQ(fresh->RowCount(), 1u);
  EXPECT_EQ(fresh->Row(0).captureTimeNs, 901);

  // An entry out of place reads as an empty datagram; a row count or a data
  // size from nowhere is not published.
  block.dataRoom.store(fresh->KeepRoomAhead().dataBytes);
  block.roomFiles.store(handed);
  add(1002);
  add(1003);
  const auto indexFile = fs::path("/proc/self/fd") / std::to_string(fresh->IndexFd());
  {
    const UniqueFd index(open(indexFile.c_str(), O_RDWR));
    const std::uint64_t wrongOffset = std::uint64_t{1} << 40;
    ASSERT_EQ(pwrite(index.get(), &wrongOffset, sizeof wrongOffset, static_cast<off_t>(2 * sizeof(SpoolIndexEntry))),
              8);
  }
  EXPECT_FALSE(fresh->Publish(std::size_t{1} << 40, block.listDataUsed.load()));
  EXPECT_FALSE(fresh->Publish(3, std::size_t{1} << 40));
  ASSERT_TRUE(fresh->Publish(3, block.listDataUsed.load()));
  EXPECT_EQ(fresh->Row(1).captureTimeNs, 1002);
  EXPECT_EQ(fresh->Row(1).datagram.size(), 100u);
  EXPECT_TRUE(fresh->Row(2).datagram.empty());

  // Not list files: a pipe, a file open for reading only. No files at all
  // is a word of its own: rows are not passed.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const UniqueFd readEnd(pipeEnds[0]);
  EXPECT_FALSE(writer.Hand({UniqueFd(pipeEnds[1]), UniqueFd(dup(fresh->IndexFd())), 0, 0, 0}));
  EXPECT_FALSE(writer.Hand({UniqueFd(open(indexFile.c_str(), O_RDONLY)), UniqueFd(dup(fresh->IndexFd())), 0, 0, 0}));
  EXPECT_TRUE(writer.Hand({}));
  writer.TakeHandedFiles();
  const std::uint64_t notPassed = block.rowsNotPassed.load();
  add(1004);
  EXPECT_EQ(block.rowsNotPassed.load(), notPassed + 1);
}

// What getcap prints for the file: nothing when it holds no capability.
std::string Capabilities(const fs::path& file) {
  const fs::path listing = file.string() + ".getcap";
  return RunCommand("getcap " + file.string() + " > " + listing.string()) ? FileContents(listing) : "getcap failed";
}

// cmake --install into a prefix of the test's own, staged and then for real,
// with a private /etc that lacks the group orvanel (the machine's groups stay
// as they are): the installed helper holds the capability and only root and
// the group may run it, so nobody captures through it only with the group.
TEST_F(HelperCopies, AnInstalledHelperIsForRootAndTheGroupOrvanelOnly) {
  if (!RunCommand("mountpoint -q /")) GTEST_SKIP() << "the root is not a mount point (a chroot): no private /etc";
  const std::string script = Script("install", R"(set -e
out="$1" cmake="$2" build="$3"
mount -t tmpfs tmpfs "$out/etc" && cp -a /etc/. "$out/etc" && mount --bind "$out/etc" /etc
groupdel orvanel 2>/dev/null || true
DESTDIR="$out/stage" "$cmake" --install "$build" --prefix /usr >"$out/staged.log" 2>&1
getent group orvanel >"$out/group-after-staging" || true
"$cmake" --install "$build" --prefix "$out/prefix" >"$out/install.log" 2>&1
getent group orvanel | cut -d: -f3 >"$out/gid")");
  fs::create_directory(directory_ / "etc");
  ASSERT_TRUE(
      RunCommand("unshare --mount " + script + " " + directory_.string() + " " ORVANEL_CMAKE " " ORVANEL_BUILD_DIR))
      << FileContents(directory_ / "staged.log") << FileContents(directory_ / "install.log");

  // Staged: closed to others, no group made, the package's commands printed.
  const std::string packaged = std::string("/usr/") + ORVANEL_INSTALLED_HELPER;
  const fs::path staged = directory_ / "stage" / packaged.substr(1);
  struct stat file {};
  ASSERT_EQ(stat(staged.c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 07777, 0750u);
  EXPECT_EQ(Capabilities(staged), "");
  EXPECT_EQ(FileContents(directory_ / "group-after-staging"), "");
  const std::string stagedLog = FileContents(directory_ / "staged.log");
  for (const std::string& command :
       {std::string("groupadd --system --force orvanel\n"), "chown root:orvanel '" + packaged + "'\n",
        "setcap cap_net_raw=ep '" + packaged + "'\n"}) {
    EXPECT_NE(stagedLog.find(command), std::string::npos) << command << stagedLog;
  }

  const fs::path helper = directory_ / "prefix" / ORVANEL_INSTALLED_HELPER;
  ASSERT_EQ(stat(helper.c_str(), &file), 0);
  const std::string group = FileContents(directory_ / "gid");
  ASSERT_FALSE(group.empty()) << FileContents(directory_ / "install.log");
  EXPECT_EQ(file.st_uid, 0u);
  EXPECT_EQ(file.st_gid, static_cast<gid_t>(std::stoul(group)));
  EXPECT_LT(file.st_gid, 1000u) << "a system group";
  EXPECT_EQ(file.st_mode & 07777, 0750u);
  EXPECT_EQ(Capabilities(helper), helper.string() + " cap_net_raw=ep\n");

  const fs::path output = directory_ / "output";
  fs::create_directories(output);
  auto nobodyCapturing = [&](const std::string& groups) {
    return std::vector<std::string>{"/usr/bin/setpriv",
                                    "--reuid=nobody",
                                    "--regid=nogroup",
                                    groups,
                                    (directory_ / "prefix" / ORVANEL_INSTALLED_CLI).string(),
                                    "--address",
                                    "127.0.0.1",
                                    "--count",
                                    "1",
                                    "--show",
                                    "src=udp"};
  };
  {
    CliProcess outside(nobodyCapturing("--clear-groups"), output);
    EXPECT_EQ(outside.Wait(), 1);
    EXPECT_EQ(outside.Err(), "orvanel-cli: " + std::string(StartResultMeaning(StartResult::SocketCreationFailed)) +
                                 ": Permission denied\n");
  }
  CliProcess member(nobodyCapturing("--groups=" + std::to_string(file.st_gid)), output);
  ASSERT_TRUE(member.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << member.Err();
  const UdpEndpoint server = BindUdp("127.0.0.1"), client = BindUdp("127.0.0.1");
  ASSERT_TRUE(SendUdp(client, "127.0.0.1", server.port, "member"));
  ASSERT_EQ(member.Wait(), 0) << member.Err();
  EXPECT_TRUE(member.Out().starts_with("UDP\t127.0.0.1\t" + std::to_string(client.port) + "\t127.0.0.1\t" +
                                       std::to_string(server.port) + "\t34\tmember\n"))
      << member.Out();
}

}  // namespace
}  // namespace orvanel::test
