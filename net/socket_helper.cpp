#include "net/socket_helper.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/securebits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "net/start_reply.h"

namespace orvanel {
namespace {

// Opening the socket takes milliseconds; this only bounds a hung helper.
constexpr std::chrono::milliseconds kReplyLimit{5000};

// What posix_spawn is told besides the program and its argument.
struct SpawnSetup {
  SpawnSetup() { ok = posix_spawn_file_actions_init(&actions) == 0 && posix_spawnattr_init(&attributes) == 0; }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The caller may block signals (orvanel-cli does): the helper starts clean.
  bool Prepare(int channel) {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    return ok && posix_spawn_file_actions_adddup2(&actions, channel, kHelperChannelFd) == 0 &&
           posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
           posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool ok = false;
};

}  // namespace

void ReapSocketHelper(pid_t helper) {
  while (waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {}
}

bool HoldsCaptureRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_NET_RAW)].effective & CAP_TO_MASK(CAP_NET_RAW)) != 0;
}

bool DropAllCapabilities() {
  // Root would get every capability back from the next execve.
  constexpr unsigned long kNoRoot = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED;
  if (geteuid() == 0 && prctl(PR_SET_SECUREBITS, kNoRoot, 0, 0, 0) != 0) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0 && syscall(SYS_capset, &header, none) == 0 &&
         prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

std::string FindSocketHelper() {
  // Installed as in the build tree, relative to this binary: each binary
  // starts the helper of its own build.
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !self.is_absolute()) return {};
  const std::filesystem::path helper =
      (self.parent_path() / ORVANEL_HELPER_FROM_BINDIR / "orvanel-socket").lexically_normal();
  return std::filesystem::is_regular_file(helper, error) ? helper.string() : std::string();
}

pid_t SpawnSocketHelper(const std::string& helperPath, const std::string& chosenAddress, int channel) {
  // dup2 onto itself would keep close-on-exec set.
  UniqueFd moved;
  if (channel == kHelperChannelFd) {
    moved.reset(fcntl(channel, F_DUPFD_CLOEXEC, kHelperChannelFd + 1));
    if (!moved.valid()) return -1;
    channel = moved.get();
  }
  SpawnSetup setup;
  if (!setup.Prepare(channel)) return -1;
  std::string argument0 = "orvanel-socket", argument1 = chosenAddress;
  char* const argv[] = {argument0.data(), argument1.data(), nullptr};
  char* const noEnvironment[] = {nullptr};
  pid_t helper = -1;
  if (const int error =
          posix_spawn(&helper, helperPath.c_str(), &setup.actions, &setup.attributes, argv, noEnvironment)) {
    errno = error;
    return -1;
  }
  return helper;
}

HelperProcess StartSocketHelper(const std::string& helperPath, const std::string& chosenAddress,
                                const CaptureRequest& request, int blockFd, const ListFilesToPass& files) {
  auto failed = [](int error) { return HelperProcess{{StartResult::SocketCreationFailed, error}, UniqueFd()}; };
  if (!helperPath.starts_with("/")) return failed(ENOENT);  // never looked up in PATH or the working directory
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return failed(errno);
  UniqueFd ours(ends[0]), theirs(ends[1]);
  const pid_t helper = SpawnSocketHelper(helperPath, chosenAddress, theirs.get());
  if (helper < 0) return failed(errno);
  theirs.reset();  // a helper that dies then reads as end of file
  // A helper gone before it read the request fails the send; its reply says more.
  [[maybe_unused]] const bool sent =
      SendCaptureRequest(ours.get(), request, blockFd) && (!request.listsIntoFiles || SendListFiles(ours.get(), files));
  const StartOutcome reply = ReceiveStartReply(ours.get(), kReplyLimit);
  if (reply.result == StartResult::Started) return {reply, std::move(ours), helper};
  kill(helper, SIGKILL);  // a hung one too
  ReapSocketHelper(helper);
  return {reply, UniqueFd()};
}

}  // namespace orvanel
