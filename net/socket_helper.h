// Getting the capture socket without the right to capture: the small
// orvanel-socket helper, which holds the right as a file capability, opens it
// and passes it back. The dialog and orvanel-cli never need the right.
#pragma once

#include <sys/types.h>

#include <string>

#include "net/capture_socket.h"
#include "net/helper_channel.h"

namespace orvanel {

// Opens the socket in this process when it holds CAP_NET_RAW, through the
// helper otherwise. Either way the failures are those of OpenCaptureSocket,
// in its order; a helper that is missing or fails counts as a socket that
// could not be created (with errno ENOENT when there is no helper, that of
// starting it when it cannot be started).
CaptureSocket AcquireCaptureSocket(const std::string& chosenAddress);

// Whether the calling thread may open a packet socket itself.
bool HoldsCaptureRight();

// Gives up every capability of the calling thread for good: ambient,
// effective, permitted and inheritable. Threads take their capabilities from
// the thread that starts them, so called before any other thread starts it
// leaves the process none. False when the kernel refused.
bool DropAllCapabilities();

// The helper beside this binary, installed or built (libexec/orvanel next to
// bin or tools), by absolute path; empty when there is none.
std::string FindSocketHelper();

// Runs helperPath (absolute) on chosenAddress and returns what it passes back.
CaptureSocket OpenCaptureSocketThroughHelper(const std::string& helperPath, const std::string& chosenAddress);

// Starts helperPath with channel as its descriptor kHelperChannelFd, an empty
// environment, default signal handling and chosenAddress as its only
// argument. Returns its process id, or -1 with errno set.
[[nodiscard]] pid_t SpawnSocketHelper(const std::string& helperPath, const std::string& chosenAddress, int channel);

}  // namespace orvanel
