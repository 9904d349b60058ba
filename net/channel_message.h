// One message over the helper's channel (a SOCK_SEQPACKET pair) with up to
// kMaxPassedFds descriptors riding along (SCM_RIGHTS).
#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "capture/unique_fd.h"

namespace orvanel {

inline constexpr std::size_t kMaxPassedFds = 2;

// Sends bytes and the descriptors. False when not sent whole.
[[nodiscard]] bool SendChannelMessage(int channel, std::span<const std::uint8_t> bytes, std::span<const int> fds = {});

struct ChannelMessage {
  ssize_t length = -1;     // -1: nothing came in time, or the receive failed; 0: the channel closed
  bool truncated = false;  // longer than the buffer, or more descriptors than kMaxPassedFds
  std::vector<UniqueFd> fds;
};

inline constexpr std::chrono::milliseconds kWaitForever = std::chrono::milliseconds::max();

// Waits up to limit (kWaitForever: with no limit) for one message into buffer. Every passed descriptor is
// taken (close-on-exec), so none is left open whatever the caller decides.
ChannelMessage ReceiveChannelMessage(int channel, std::span<std::uint8_t> buffer, std::chrono::milliseconds limit);

}  // namespace orvanel
