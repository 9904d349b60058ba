// The socket helper's one reply: how opening the capture socket ended and,
// when it worked, the socket itself passed over a Unix socket pair.
#pragma once

#include <chrono>

#include "net/capture_socket.h"

namespace orvanel {

// Sends opened.result and its errno and, when it is Started, the socket (SCM_RIGHTS).
[[nodiscard]] bool SendStartReply(int channel, const CaptureSocket& opened);

// Waits up to limit for the reply. No reply, a closed channel, a malformed
// reply or a passed descriptor that is not a packet socket all read as
// SocketCreationFailed without an errno: the socket could not be had.
CaptureSocket ReceiveStartReply(int channel, std::chrono::milliseconds limit);

}  // namespace orvanel
