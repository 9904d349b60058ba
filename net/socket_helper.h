// Capturing without the right to capture: the small orvanel-socket helper,
// which holds the right as a file capability, opens the socket and runs the
// capture loop itself; the socket never leaves it. The dialog and
// orvanel-cli never need the right.
#pragma once

#include <sys/types.h>

#include <string>

#include "capture/unique_fd.h"
#include "net/capture_request.h"
#include "net/helper_channel.h"
#include "net/start_result.h"

namespace orvanel {

// Whether the calling thread may open a packet socket itself.
bool HoldsCaptureRight();

// Gives up every capability of the calling thread for good: ambient,
// effective, permitted and inheritable. Threads take their capabilities from
// the thread that starts them, so called before any other thread starts it
// leaves the process none. Also sets no_new_privs and, as root, the
// securebits that keep an execve from giving root its capabilities back.
// False when the kernel refused.
bool DropAllCapabilities();

// The helper beside this binary, installed or built (libexec/orvanel next to
// bin or tools), by absolute path; empty when there is none.
std::string FindSocketHelper();

// A helper that took a capture: its channel, over which it is told to
// finish or stop (closing the channel stops it too), and its process.
struct HelperProcess {
  StartOutcome outcome;
  UniqueFd channel;  // open only when outcome is Started
  pid_t pid = -1;    // reaped already unless outcome is Started
};

// Runs helperPath (absolute) on chosenAddress, passes it the request, the
// shared block and, when the request lists into files, those files, and
// waits for its start reply. A helper that is missing,
// cannot be run, fails or gives no good reply in time counts as a socket
// that could not be created (with errno ENOENT when there is no helper,
// that of starting it when it cannot be started).
HelperProcess StartSocketHelper(const std::string& helperPath, const std::string& chosenAddress,
                                const CaptureRequest& request, int blockFd, const ListFilesToPass& files = {});

// Starts helperPath with channel as its descriptor kHelperChannelFd, an empty
// environment, default signal handling and chosenAddress as its only
// argument. Returns its process id, or -1 with errno set.
[[nodiscard]] pid_t SpawnSocketHelper(const std::string& helperPath, const std::string& chosenAddress, int channel);

// Waits for a helper's end, through signals.
void ReapSocketHelper(pid_t helper);

}  // namespace orvanel
