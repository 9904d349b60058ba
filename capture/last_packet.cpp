#include "last_packet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

namespace orvanel {
namespace {

constexpr const char* kFileNames[] = {"buf_TCP.txt", "buf_UDP.txt", "buf_ICMP.txt"};

// Writes all of data, going on after partial writes and interruptions.
void WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    length -= static_cast<std::size_t>(written);
  }
}

// Opens the directory for openat. A path longer than one system call takes
// (PATH_MAX) is opened a piece at a time, each piece relative to the last.
int OpenDirectory(std::string_view path) {
  int fd = AT_FDCWD;
  do {
    std::string_view piece = path;
    if (piece.size() >= PATH_MAX) {
      const std::size_t cut = path.rfind('/', PATH_MAX - 2);
      piece = path.substr(0, cut == std::string_view::npos ? PATH_MAX : cut + 1);
    }
    const int next = openat(fd, std::string(piece).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd != AT_FDCWD) close(fd);
    if (next < 0) return -1;
    fd = next;
    path.remove_prefix(piece.size());
    while (path.starts_with('/')) path.remove_prefix(1);  // the rest is relative to fd
  } while (!path.empty());
  return fd;
}

}  // namespace

LastPacketFiles::LastPacketFiles(const std::string& dumpDirectory)
    : directory_(dumpDirectory),
      paths_{dumpDirectory + '/' + kFileNames[0], dumpDirectory + '/' + kFileNames[1],
             dumpDirectory + '/' + kFileNames[2], {}} {}

const std::string& LastPacketFiles::PathOf(ProtocolClass protocol) const {
  return paths_[static_cast<int>(protocol)];
}

void LastPacketFiles::SaveLastPacket(ProtocolClass protocol, const ReceiveBuffer& buffer,
                                     const IpHeaderView& view) const {
  // An empty text, or one with a NUL in it, names no directory.
  if (protocol == ProtocolClass::OTHER || directory_.empty() || directory_.find('\0') != std::string::npos) return;
  const int directoryFd = OpenDirectory(directory_);
  if (directoryFd < 0) return;
  // The capture may run privileged: never follow a planted link, never block
  // on a planted FIFO or write to a device, and never cut or write a file
  // that also has a name elsewhere (a planted hard link).
  const int fd = openat(directoryFd, kFileNames[static_cast<int>(protocol)],
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  close(directoryFd);
  if (fd < 0) return;
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 && ftruncate(fd, 0) == 0) {
    WriteAll(fd, buffer.data(), std::min<std::size_t>(view.TotalLength(), buffer.size()));
  }
  close(fd);
}

}  // namespace orvanel
