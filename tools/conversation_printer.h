// orvanel-cli's conversation lines: after the counters, largest total bytes first.
#pragma once

#include <cstdio>

#include "capture/conversation_table.h"
#include "tools/row_printer.h"

namespace orvanel::cli {

// TSV: one "#conv" line per conversation (protocol, a, a_port, b, b_port,
// packets and bytes A to B, packets and bytes B to A, first, last), then a
// "#conv_folded" line (the count, then the same numbers) when some were
// folded. JSON: one object with the "conversations" array.
void PrintConversations(std::FILE* out, const ConversationTable& table, OutputFormat format);

}  // namespace orvanel::cli
