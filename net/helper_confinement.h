// The socket helper's confinement once its socket is open and its ring
// mapped: only the capture right stays (opening the socket again needs it),
// no execve can bring more, and a seccomp filter allows only the calls the
// capture loop and its channel make. A call outside them ends the helper,
// which the caller reads as the end of its channel.
#pragma once

namespace orvanel {

// Applies to every thread of the process; wakeFd is the only descriptor it
// may write to (a write to the packet socket would send). False when a step failed.
[[nodiscard]] bool ConfineSocketHelper(int wakeFd);

}  // namespace orvanel
