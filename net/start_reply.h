// The socket helper's start reply: how opening the capture socket ended.
// The socket itself stays in the helper; no descriptor comes back.
#pragma once

#include <chrono>

#include "net/start_result.h"

namespace orvanel {

[[nodiscard]] bool SendStartReply(int channel, const StartOutcome& outcome);

// Waits up to limit for the reply. No reply, a closed channel, a malformed
// reply or one that passes a descriptor all read as SocketCreationFailed
// without an errno: the capture could not be had.
StartOutcome ReceiveStartReply(int channel, std::chrono::milliseconds limit);

}  // namespace orvanel
