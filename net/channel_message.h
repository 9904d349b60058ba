// One message over the helper's channel (a SOCK_SEQPACKET pair) with at
// most one descriptor riding along (SCM_RIGHTS).
#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <span>

#include "capture/unique_fd.h"

namespace orvanel {

// Sends bytes, and fd when it is not -1. False when not sent whole.
[[nodiscard]] bool SendChannelMessage(int channel, std::span<const std::uint8_t> bytes, int fd = -1);

struct ChannelMessage {
  ssize_t length = -1;     // -1: nothing came in time, or the receive failed; 0: the channel closed
  bool truncated = false;  // longer than the buffer, or more descriptors than one
  UniqueFd fd;             // the one passed descriptor, if any
};

// Waits up to limit for one message into buffer. Every passed descriptor is
// taken (close-on-exec), so none is left open whatever the caller decides.
ChannelMessage ReceiveChannelMessage(int channel, std::span<std::uint8_t> buffer, std::chrono::milliseconds limit);

}  // namespace orvanel
