// orvanel-socket ADDRESS: opens the capture socket on a local IPv4 address
// and passes it back over descriptor 3, a Unix socket pair end, then exits.
// It holds the right to capture as a file capability, so it takes nothing
// from its caller but that one argument and that one descriptor.
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "net/capture_socket.h"
#include "net/helper_channel.h"
#include "net/start_reply.h"

namespace {

// Every descriptor but the channel is closed; 0-2 then read and write
// /dev/null, so nothing written to them by mistake can reach a socket.
bool KeepOnlyTheChannel() {
  using orvanel::kHelperChannelFd;
  if (close_range(0, kHelperChannelFd - 1, 0) != 0 || close_range(kHelperChannelFd + 1, ~0U, 0) != 0) {
    return false;
  }
  for (int fd = 0; fd < kHelperChannelFd; ++fd) {
    if (open("/dev/null", O_RDWR) != fd) return false;
  }
  return true;
}

bool IsDottedIPv4(const char* text) {
  in_addr address;
  return inet_pton(AF_INET, text, &address) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  clearenv();
  if (!KeepOnlyTheChannel()) return 1;
  // Anything but one dotted IPv4 address is no address chosen, reported after
  // the socket and list steps just as a start in the caller's process would.
  const std::string chosen = argc == 2 && IsDottedIPv4(argv[1]) ? argv[1] : "";
  return orvanel::SendStartReply(orvanel::kHelperChannelFd, orvanel::OpenCaptureSocket(chosen)) ? 0 : 1;
}
