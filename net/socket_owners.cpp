#include "net/socket_owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "capture/unique_fd.h"

namespace orvanel {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The inode of a descriptor's link "socket:[N]".
std::optional<std::uint64_t> SocketInode(int fdDir, const char* name) {
  char link[64];
  const ssize_t length = readlinkat(fdDir, name, link, sizeof link);
  const std::string_view text(link, length > 0 ? static_cast<std::size_t>(length) : 0);
  constexpr std::string_view kPrefix = "socket:[";
  if (!text.starts_with(kPrefix) || !text.ends_with(']')) return std::nullopt;
  return Number(text.substr(kPrefix.size(), text.size() - kPrefix.size() - 1));
}

// A process names itself: control bytes, which would break a TSV line or a
// label, become '?'.
std::string Printable(std::string_view text) {
  std::string printable(text);
  for (char& ch : printable) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
  }
  return printable;
}

std::string Comm(int processDir) {
  const UniqueFd file(openat(processDir, "comm", O_RDONLY | O_CLOEXEC));
  char text[64];
  const ssize_t length = file.valid() ? read(file.get(), text, sizeof text) : -1;
  if (length <= 0) return {};
  std::string_view comm(text, static_cast<std::size_t>(length));
  if (comm.ends_with('\n')) comm.remove_suffix(1);
  return Printable(comm);
}

}  // namespace

std::unordered_map<std::uint64_t, ConversationProgram> SocketHolders(const std::unordered_set<std::uint64_t>& inodes) {
  std::unordered_map<std::uint64_t, ConversationProgram> holders;
  const Dir proc(opendir("/proc"));
  if (!proc || inodes.empty()) return holders;
  // /proc is not in PID order: the lowest holder found is kept.
  while (const dirent* entry = readdir(proc.get())) {
    const std::optional<std::uint64_t> pid = Number(entry->d_name);
    if (!pid || *pid > 0x7FFFFFFF) continue;
    const UniqueFd processDir(openat(dirfd(proc.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!processDir.valid()) continue;
    const int fdDirFd = openat(processDir.get(), "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDirFd < 0) continue;  // another user's process, or gone
    const Dir fds(fdopendir(fdDirFd));
    if (!fds) {
      close(fdDirFd);
      continue;
    }
    std::string comm;
    while (const dirent* fd = readdir(fds.get())) {
      const std::optional<std::uint64_t> inode =
          fd->d_name[0] == '.' ? std::nullopt : SocketInode(dirfd(fds.get()), fd->d_name);
      if (!inode || !inodes.contains(*inode)) continue;
      const auto known = holders.find(*inode);
      if (known != holders.end() && known->second.pid <= static_cast<int>(*pid)) continue;
      if (comm.empty()) comm = Comm(processDir.get());
      if (!comm.empty()) holders[*inode] = {comm, static_cast<int>(*pid)};
    }
  }
  return holders;
}

std::string UserText(std::uint32_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return "用户 " + Printable(found->pw_name);
  }
  return "用户 " + std::to_string(uid);
}

}  // namespace orvanel
