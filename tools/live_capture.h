// orvanel-cli's live modes: capturing on a local address, and listing them.
#pragma once

#include "capture/capture_options.h"
#include "capture/conversation_table.h"
#include "session/capture_losses.h"
#include "tools/cli_options.h"
#include "tools/cli_rows.h"

namespace orvanel::cli {

// Captures on options.address with these boxes into rows (and conversations,
// if given, with their programs) until the packet count, the time or SIGINT/SIGTERM ends it, then
// prints the counters as a read does and the losses on stderr. saveFailures
// counts the packets --save-last could not save. Returns the exit status.
int RunLiveCapture(const CliOptions& options, const CaptureOptions& boxes, CliRows& rows,
                   ConversationTable* conversations, SaveFailures& saveFailures);

// The losses' line on stderr, as the dialog's ERROR counts them.
void PrintLosses(const Losses& lost);

// Prints the local addresses one a line in the dialog's order; returns the
// exit status.
int PrintLocalAddresses();

}  // namespace orvanel::cli
