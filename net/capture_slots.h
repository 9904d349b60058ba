// At most kCapturesPerUser captures of one user through the socket helper:
// a running helper holds one of its user's slots, an abstract Unix socket
// name that the kernel frees when the helper ends, however it ends.
#pragma once

#include <sys/types.h>

#include "capture/unique_fd.h"

namespace orvanel {

// The slot taken for uid, held while the descriptor is open; invalid when
// the user's slots are all held.
UniqueFd TakeCaptureSlot(uid_t uid);

}  // namespace orvanel
