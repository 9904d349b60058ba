#include "storage/last_packet.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

namespace orvanel {
namespace {

constexpr std::int64_t kLookUpAgainMs = 100;

// Writes all of data from the file's start, going on after partial writes
// and interruptions; returns 0 or the errno.
int WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
  off_t offset = 0;
  while (length > 0) {
    const ssize_t written = pwrite(fd, data, length, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;  // a regular file that takes nothing more
    data += written;
    offset += written;
    length -= static_cast<std::size_t>(written);
  }
  return 0;
}

// The directory at path, relative to at, one name at a time, none a
// symbolic link: openat2 when the kernel has it, else a walk.
UniqueFd OpenFollowingNoLink(int at, const std::string& path) {
  open_how how{.flags = O_PATH | O_DIRECTORY | O_CLOEXEC, .mode = 0, .resolve = RESOLVE_NO_SYMLINKS};
  const long fd = syscall(SYS_openat2, at, path.c_str(), &how, sizeof how);
  // Before Linux 5.6, or under a seccomp filter that does not know openat2.
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return UniqueFd(static_cast<int>(fd));
  UniqueFd walked(openat(at, path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (std::string_view rest = path; walked.valid() && !rest.empty();) {
    const std::string name(rest.substr(0, rest.find('/')));
    rest.remove_prefix(std::min(rest.size(), name.size() + 1));
    if (name.empty()) continue;
    walked = UniqueFd(openat(walked.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return walked;
}

// Opens the directory for openat. A path longer than one system call takes
// (PATH_MAX) is opened a piece at a time, each piece relative to the last.
UniqueFd OpenDirectory(std::string_view path) {
  UniqueFd fd;
  do {
    std::string_view piece = path;
    if (piece.size() >= PATH_MAX) {
      const std::size_t cut = path.rfind('/', PATH_MAX - 2);
      piece = path.substr(0, cut == std::string_view::npos ? PATH_MAX : cut + 1);
    }
    UniqueFd next = OpenFollowingNoLink(fd.valid() ? fd.get() : AT_FDCWD, std::string(piece));
    if (!next.valid()) return {};
    fd = std::move(next);
    path.remove_prefix(piece.size());
    while (path.starts_with('/')) path.remove_prefix(1);  // the rest is relative to fd
  } while (!path.empty());
  return fd;
}

}  // namespace

int DumpDirectoryError(const std::string& dumpDirectory) { return OpenDirectory(dumpDirectory).valid() ? 0 : errno; }

void SaveFailures::Count(const SaveFailure& failure) {
  if (!hasFirst_.load(std::memory_order_relaxed)) {
    first_ = failure;
    hasFirst_.store(true, std::memory_order_release);
    if (tellFirst_) tellFirst_(failure);
  }
  packets_.fetch_add(1, std::memory_order_relaxed);
}

std::optional<SaveFailure> SaveFailures::First() const {
  if (!hasFirst_.load(std::memory_order_acquire)) return std::nullopt;
  return first_;
}

LastPacketFiles::LastPacketFiles(const std::string& dumpDirectory, SaveFailures* failures)
    : directory_(dumpDirectory), failures_(failures) {}

LastPacketFiles::~LastPacketFiles() { CloseAll(); }

void LastPacketFiles::CloseAll() {
  for (int protocol = 0; protocol < kProtocolClassCount - 1; ++protocol) Close(protocol);
  directoryFd_.reset();
}

void LastPacketFiles::SaveLastPacket(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view) {
  // An empty text, or one with a NUL in it, names no directory.
  if (protocol == ProtocolClass::OTHER || directory_.empty() || directory_.find('\0') != std::string::npos) return;
  const int index = static_cast<int>(protocol);
  // The path is looked up again now and then, so that a directory removed,
  // replaced or mounted over during a capture is followed within that time.
  timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  const std::int64_t nowMs = std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
  if (directoryFd_.valid() && nowMs - directoryOpenedMs_ >= kLookUpAgainMs) CloseAll();
  if (!directoryFd_.valid()) directoryOpenedMs_ = nowMs;
  if (files_[index].fd.valid() && !StillOurs(index)) Close(index);
  if (!files_[index].fd.valid()) {
    if (const int error = Open(index)) return Fail(index, error);
  }
  const auto length = static_cast<off_t>(std::min<std::size_t>(view.TotalLength(), buffer.size()));
  if (const int error = Write(index, buffer.data(), length)) {
    // Part of this packet over part of the last is no packet at all.
    if (StillOurs(index)) unlinkat(directoryFd_.get(), kLastPacketFileNames[index], 0);
    Close(index);
    Fail(index, error);
  }
}

int LastPacketFiles::Write(int protocol, const std::uint8_t* data, off_t length) {
  OpenFile& file = files_[protocol];
  if (const int error = WriteAll(file.fd.get(), data, static_cast<std::size_t>(length))) return error;
  if (file.size > length && ftruncate(file.fd.get(), length) != 0) return errno;
  file.size = length;
  return 0;
}

void LastPacketFiles::Fail(int protocol, int error) {
  if (failures_) failures_->Count({kLastPacketFileNames[protocol], error});
}

// The name must still lead to the open file, a regular one with no other name.
bool LastPacketFiles::StillOurs(int protocol) const {
  struct stat status;
  const OpenFile& file = files_[protocol];
  return fstatat(directoryFd_.get(), kLastPacketFileNames[protocol], &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_dev == file.device && status.st_ino == file.inode;
}

int LastPacketFiles::Open(int protocol) {
  if (!directoryFd_.valid()) directoryFd_ = OpenDirectory(directory_);
  if (!directoryFd_.valid()) return errno;
  // The capture may run privileged: never follow a planted link, never block
  // on a planted FIFO or write to a device, never write a file that also
  // has a name elsewhere (a planted hard link) or another user's file. Only
  // the owner may read captured bytes.
  UniqueFd fd(openat(directoryFd_.get(), kLastPacketFileNames[protocol],
                     O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
  if (!fd.valid()) {
    const int error = errno;
    // The directory was removed: look its path up again next time.
    if (error == ENOENT) directoryFd_.reset();
    return error;
  }
  struct stat status;
  if (fstat(fd.get(), &status) != 0) return errno;
  if (!S_ISREG(status.st_mode) || status.st_uid != geteuid()) return EPERM;
  if (status.st_nlink != 1) return EMLINK;
  if ((status.st_mode & 07777) != 0600 && fchmod(fd.get(), 0600) != 0) return errno;
  files_[protocol] = {std::move(fd), status.st_dev, status.st_ino, status.st_size};
  return 0;
}

void LastPacketFiles::Close(int protocol) { files_[protocol] = {}; }

}  // namespace orvanel
