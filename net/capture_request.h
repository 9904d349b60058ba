// What the caller asks of the socket helper after starting it: the filters,
// the packet limit and the shared block (net/capture_block.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "capture/unique_fd.h"

namespace orvanel {

// Filters are sent cut to this: longer ones match no dotted address either way.
inline constexpr std::size_t kMaxFilterLength = 255;

struct CaptureRequest {
  std::string srcFilter;
  std::string dstFilter;
  std::uint32_t packetLimit = 0;  // 0: none
};

[[nodiscard]] bool SendCaptureRequest(int channel, const CaptureRequest& request, int blockFd);

struct ReceivedRequest {
  CaptureRequest request;
  UniqueFd block;
};
// Nothing for a malformed request, one without a descriptor or none in time.
std::optional<ReceivedRequest> ReceiveCaptureRequest(int channel, std::chrono::milliseconds limit);

// After the reply, the caller's one-byte commands; the channel closing is Stop too.
inline constexpr std::uint8_t kFinishCommand = 'F';
inline constexpr std::uint8_t kStopCommand = 'S';

}  // namespace orvanel
