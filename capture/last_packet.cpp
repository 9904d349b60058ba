#include "last_packet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvanel {
namespace {

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

}  // namespace

LastPacketFiles::LastPacketFiles(const std::string& dumpDirectory)
    : paths_{dumpDirectory + "/buf_TCP.txt", dumpDirectory + "/buf_UDP.txt", dumpDirectory + "/buf_ICMP.txt"} {}

const std::string& LastPacketFiles::PathOf(ProtocolClass protocol) const {
  return paths_[static_cast<int>(protocol)];
}

void LastPacketFiles::SaveLastPacket(ProtocolClass protocol, const ReceiveBuffer& buffer,
                                     const IpHeaderView& view) const {
  if (protocol == ProtocolClass::OTHER) return;
  // The capture may run privileged: never follow a planted link, and never
  // block on a planted FIFO or write to a device.
  const int fd = open(PathOf(protocol).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return;
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    WriteAll(fd, buffer.data(), std::min<std::size_t>(view.TotalLength(), buffer.size()));
  }
  close(fd);
}

}  // namespace orvanel
