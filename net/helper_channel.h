// The one descriptor the orvanel-socket helper talks over: its end of a Unix
// socket pair, where it sends its start reply (net/start_reply.h).
#pragma once

namespace orvanel {

inline constexpr int kHelperChannelFd = 3;

}  // namespace orvanel
