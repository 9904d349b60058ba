// orvanel-cli's live modes: capturing on a local address, and listing them.
#pragma once

#include "capture/capture.h"
#include "tools/cli_options.h"

namespace orvanel::cli {

// Captures on options.address with these boxes until the packet count, the
// time or SIGINT/SIGTERM ends it, then prints the rows and counters as a read
// does and the kernel drops on stderr. Returns the exit status.
int RunLiveCapture(const CliOptions& options, const CaptureOptions& boxes);

// Prints the local addresses one a line in the dialog's order; returns the
// exit status.
int PrintLocalAddresses();

}  // namespace orvanel::cli
