// orvanel-cli's conversation lines: after the counters, largest total bytes first.
#pragma once

#include <cstdio>

#include "capture/conversation_program.h"
#include "capture/conversation_table.h"
#include "tools/row_printer.h"

namespace orvanel::cli {

// TSV: one "#conv" line per conversation (protocol, a, a_port, b, b_port,
// packets and bytes A to B, packets and bytes B to A, first, last, program),
// then a "#conv_folded" line (the count, then the same numbers) when some
// were folded. JSON: one object with the "conversations" array, "program"
// and "pid" in those whose program is known.
void PrintConversations(std::FILE* out, const ConversationTable& table, OutputFormat format,
                        const ProgramFinder& programOf = {});

}  // namespace orvanel::cli
