// The peer the benchmarks measure against: the capture loop as it would be
// with the platform's inet_ntop making the address texts.
#pragma once

#include "capture/capture_loop.h"

namespace orvanel::bench {

int PeerThreadProc(const CaptureContext& context);

}  // namespace orvanel::bench
