// The capture socket through the orvanel-socket helper: root opens it
// itself; an unprivileged caller gets it from the helper, which holds
// cap_net_raw alone, with its filter locked; a helper that is
// missing, powerless or broken means no socket; the helper takes nothing but
// its argument and its channel; installed, it is for root and the group orvanel
// only. Runs as root in a network namespace of its own.
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "net/packet_ring.h"
#include "net/socket_helper.h"
#include "net/start_reply.h"
#include "tests/support/cli_process.h"
#include "tests/support/test_network.h"
#include "tests/support/test_process.h"
#include "tests/support/test_traffic.h"

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
  std::string Script(const std::string& name, const std::string& body) const {
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

std::string Outcome(const CaptureSocket& opened) {
  std::string text = StartOutcomeText(opened.Outcome());
  if (opened.socket.valid()) text += IsPacketSocket(opened.socket.get()) ? " +packet socket" : " +other descriptor";
  return text;
}

bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

TEST_F(HelperCopies, RootOpensTheSocketItself) {
  ASSERT_TRUE(HoldsCaptureRight());
  const int descriptors = CountDescriptors();
  {
    const CaptureSocket opened = AcquireCaptureSocket("127.0.0.1");
    EXPECT_EQ(Outcome(opened), Outcome(OpenCaptureSocket("127.0.0.1")));
    EXPECT_EQ(Outcome(opened), "capture started +packet socket");
    EXPECT_EQ(AcquireCaptureSocket(kNotLocal).result, StartResult::NoAddressChosen);
  }
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(HelperCopies, TheHelperAnswersAsTheInProcessStartWould) {
  const int descriptors = CountDescriptors();
  const std::string addresses[] = {"127.0.0.1", kNotLocal, "", "127.0.0.1 ", " 127.0.0.1", "127.0.0.1;id", "::1",
                                   "127.1", "0x7f.0.0.1", "127.000.000.001", "localhost", std::string(5000, '7')};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    CaptureSocket opened = OpenCaptureSocketThroughHelper(plain.string(), address);
    EXPECT_EQ(Outcome(opened), Outcome(OpenCaptureSocket(address)));
    if (opened.socket.valid()) {
      EXPECT_NE(PacketRing::Map(std::move(opened.socket)), nullptr);
    }
  }
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(HelperCopies, AHelperThatCannotDoItsWorkMeansNoSocket) {
  const std::string noSocket(StartResultMeaning(StartResult::SocketCreationFailed));
  // Replies are read: a well-formed refusal comes through as it is, errno included.
  EXPECT_EQ(Outcome(OpenCaptureSocketThroughHelper(
                Script("refuses", R"(printf 'SVRO\004\000\000\000\000\000\000\000' >&3)"), "127.0.0.1")),
            StartResultMeaning(StartResult::NoAddressChosen));
  EXPECT_EQ(Outcome(OpenCaptureSocketThroughHelper(
                Script("unbound", R"(printf 'SVRO\005\000\000\000\023\000\000\000' >&3)"), "127.0.0.1")),
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
      {"started without a socket", Script("nosocket", R"(printf 'SVRO\000\000\000\000\000\000\000\000' >&3)")},
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
    EXPECT_EQ(Outcome(OpenCaptureSocketThroughHelper(helper, "127.0.0.1")),
              noSocket + (cause != causes.end() ? cause->second : ""))
        << what;
  }
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(HelperCopies, AnUnprivilegedCallerCapturesThroughTheHelper) {
  const std::string report = AsNobody([&] {
    std::ostringstream out;
    out << "right " << HoldsCaptureRight() << "\n";
    out << "itself: " << Outcome(OpenCaptureSocket("127.0.0.1")) << "\n";
    out << "helper without capability: " << Outcome(OpenCaptureSocketThroughHelper(plain, "127.0.0.1")) << "\n";
    out << "not local: " << Outcome(OpenCaptureSocketThroughHelper(capable, kNotLocal)) << "\n";
    out << "garbage: " << Outcome(OpenCaptureSocketThroughHelper(capable, "127.0.0.1\n-v")) << "\n";
    CaptureSocket opened = OpenCaptureSocketThroughHelper(capable, "127.0.0.1");
    out << "helper: " << Outcome(opened) << "\n";
    // The filter is locked: it can be neither detached nor replaced by one
    // that takes everything.
    const int none = 0;
    sock_filter everything[] = {BPF_STMT(BPF_RET | BPF_K, 0xFFFF)};
    const sock_fprog wider{1, everything};
    out << "detach: " << setsockopt(opened.socket.get(), SOL_SOCKET, SO_DETACH_FILTER, &none, sizeof none) << " "
        << std::strerror(errno) << "\n";
    out << "replace: " << setsockopt(opened.socket.get(), SOL_SOCKET, SO_ATTACH_FILTER, &wider, sizeof wider) << " "
        << std::strerror(errno) << "\n";
    const auto ring = PacketRing::Map(std::move(opened.socket));
    if (!ring) return out.str() + "no ring\n";
    const UdpEndpoint server = BindUdp("127.0.0.1"), client = BindUdp("127.0.0.1");
    for (const char* payload : {"one", "two", "three"}) SendUdp(client, "127.0.0.1", server.port, payload);
    for (int packet = 0; packet < 3; ++packet) {
      ReceiveBuffer buffer{};
      const ReceiveResult received = ring->Receive(buffer);
      if (received.status != ReceiveStatus::Packet) {
        out << "receive status " << static_cast<int>(received.status) << "\n";
        continue;
      }
      out << "received " << received.length << " bytes: "
          << std::string(reinterpret_cast<const char*>(received.inPlace) + 28, received.length - 28) << "\n";
    }
    return out.str();
  });
  EXPECT_EQ(report,
            "right 0\n"
            "itself: " + std::string(StartResultMeaning(StartResult::SocketCreationFailed)) + ": Operation not permitted\n"
            "helper without capability: " + std::string(StartResultMeaning(StartResult::SocketCreationFailed)) +
                ": Operation not permitted\n"
            "not local: " + std::string(StartResultMeaning(StartResult::NoAddressChosen)) + "\n"
            "garbage: " + std::string(StartResultMeaning(StartResult::NoAddressChosen)) + "\n"
            "helper: capture started +packet socket\n"
            "detach: -1 Operation not permitted\n"
            "replace: -1 Operation not permitted\n"
            "received 31 bytes: one\n"
            "received 31 bytes: two\n"
            "received 33 bytes: three\n");
}

// Holds the helper at its reply: its channel's peer queue is full, so its
// send waits, and the test can look at what it holds meanwhile.
TEST_F(HelperCopies, TheHelperHoldsOnlyItsChannelAndGetsNoEnvironment) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
  const UniqueFd ours(ends[0]), theirs(ends[1]);
  int queued = 0;
  while (send(theirs.get(), "x", 1, MSG_DONTWAIT) == 1 && queued < 10'000) ++queued;
  ASSERT_GT(queued, 0);

  int marker[2];  // inheritable, as a careless caller's descriptors would be
  ASSERT_EQ(pipe(marker), 0);
  const UniqueFd markerRead(marker[0]), markerWrite(marker[1]);
  setenv("LD_PRELOAD", "/nonexistent/orvanel-preload.so", 1);
  setenv("QT_PLUGIN_PATH", directory_.c_str(), 1);
  const pid_t helper = SpawnSocketHelper(plain.string(), "127.0.0.1", theirs.get());
  unsetenv("LD_PRELOAD");
  unsetenv("QT_PLUGIN_PATH");
  ASSERT_GT(helper, 0);

  const fs::path process = "/proc/" + std::to_string(helper);
  std::map<int, std::string> held;  // descriptor -> what it is
  auto readHeld = [&] {
    held.clear();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(process / "fd", error)) {
      held[std::stoi(entry.path().filename())] = fs::read_symlink(entry.path(), error).string();
    }
    // Past its own clean-up, with the capture socket open besides the channel.
    return held.size() == 5 && held[4].starts_with("socket:");
  };
  EXPECT_TRUE(WaitUntil(readHeld));
  struct stat channel {};
  ASSERT_EQ(fstat(theirs.get(), &channel), 0);
  EXPECT_EQ(held[0], "/dev/null");
  EXPECT_EQ(held[1], "/dev/null");
  EXPECT_EQ(held[2], "/dev/null");
  EXPECT_EQ(held[kHelperChannelFd], "socket:[" + std::to_string(channel.st_ino) + "]");
  EXPECT_EQ(FileContents(process / "environ"), "");

  char byte;
  for (int i = 0; i < queued; ++i) ASSERT_EQ(recv(ours.get(), &byte, 1, 0), 1);
  const CaptureSocket opened = ReceiveStartReply(ours.get(), 5s);
  EXPECT_EQ(Outcome(opened), "capture started +packet socket");
  int status = -1;
  ASSERT_EQ(waitpid(helper, &status, 0), helper);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// orvanel-cli run by nobody finds the helper where it is installed beside it
// (the build's layout, copied) and captures through it, or says it cannot.
TEST_F(HelperCopies, OrvanelCliRunByNobodyCapturesThroughTheHelperBesideIt) {
  const fs::path cli = directory_ / "bin" / "orvanel-cli";
  const fs::path helper = directory_ / "bin" / fs::path(ORVANEL_HELPER_PATH).parent_path().lexically_relative(
                                                   fs::path(ORVANEL_CLI_PATH).parent_path()) / "orvanel-socket";
  fs::create_directories(cli.parent_path());
  fs::create_directories(helper.parent_path());
  fs::copy_file(ORVANEL_CLI_PATH, cli);
  const fs::path output = directory_ / "output";
  fs::create_directories(output);
  const std::vector<std::string> command = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                            cli.string(), "--address", "127.0.0.1", "--count", "2", "--show",
                                            "src=udp"};
  const std::string noSocket = "orvanel-cli: " + std::string(StartResultMeaning(StartResult::SocketCreationFailed));
  {
    CliProcess withoutHelper(command, output);
    EXPECT_EQ(withoutHelper.Wait(), 1);
    EXPECT_EQ(withoutHelper.Err(), noSocket + ": No such file or directory\n");
  }
  fs::copy_file(plain, helper);
  {
    CliProcess powerlessHelper(command, output);
    EXPECT_EQ(powerlessHelper.Wait(), 1);
    EXPECT_EQ(powerlessHelper.Err(), noSocket + ": Operation not permitted\n");
  }
  fs::remove(helper);
  fs::copy_file(capable, helper);
  ASSERT_TRUE(RunCommand("setcap cap_net_raw=ep " + helper.string()));  // copies lose it
  CliProcess capturing(command, output);
  ASSERT_TRUE(capturing.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << capturing.Err();
  const UdpEndpoint server = BindUdp("127.0.0.1"), client = BindUdp("127.0.0.1");
  for (const char* payload : {"one", "two"}) ASSERT_TRUE(SendUdp(client, "127.0.0.1", server.port, payload));
  ASSERT_EQ(capturing.Wait(), 0) << capturing.Err();
  const std::string ports = "\t127.0.0.1\t" + std::to_string(client.port) + "\t127.0.0.1\t" +
                            std::to_string(server.port) + "\t";
  EXPECT_EQ(capturing.Out(), "UDP" + ports + "31\tone\nUDP" + ports +
                                 "31\ttwo\n#all\t0\t2\t0\t0\n#src\t0\t2\t0\t0\n#dst\t0\t2\t0\t0\n"
                                 "#other\t0\t0\t0\t0\n#errors\t0\n#bytes_all\t0\t62\t0\t0\n"
                                 "#bytes_src\t0\t62\t0\t0\n#bytes_dst\t0\t62\t0\t0\n#bytes_other\t0\t0\t0\t0\n");
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
  ASSERT_TRUE(RunCommand("unshare --mount " + script + " " + directory_.string() + " " ORVANEL_CMAKE " "
                         ORVANEL_BUILD_DIR))
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
  for (const std::string& command : {std::string("groupadd --system --force orvanel\n"),
                                     "chown root:orvanel '" + packaged + "'\n",
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
    return std::vector<std::string>{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", groups,
                                    (directory_ / "prefix" / ORVANEL_INSTALLED_CLI).string(), "--address",
                                    "127.0.0.1", "--count", "1", "--show", "src=udp"};
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
