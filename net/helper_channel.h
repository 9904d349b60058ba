// The one descriptor the orvanel-socket helper talks over: its end of a Unix
// socket pair, where it takes the caller's request and commands
// (net/capture_request.h) and sends its start reply (net/start_reply.h).
#pragma once

namespace orvanel {

inline constexpr int kHelperChannelFd = 3;

}  // namespace orvanel
