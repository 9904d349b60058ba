// The conversations of a table in the order a reader asks for, narrowed by
// address or port text.
#pragma once

#include <string>
#include <vector>

#include "capture/conversation_program.h"
#include "capture/conversation_table.h"

namespace orvanel {

// What the order is by; each column of the conversation list has one.
enum class ConversationOrder {
  Protocol,
  AddressA,
  PortA,
  AddressB,
  PortB,
  PacketsAToB,
  BytesAToB,
  PacketsBToA,
  BytesBToA,
  Start,
  Duration,
  TotalBytes,
  Program,
};

struct RankingRequest {
  ConversationOrder order = ConversationOrder::TotalBytes;
  bool descending = true;
  // Kept: conversations with an address, port or program whose text holds
  // this; the folded row only when it is empty.
  std::string text;
  ProgramFinder programOf;  // may be empty: no programs
};

// Ties go by total bytes, then by slot, so equal requests give equal orders.
// The folded row takes part when there is one.
std::vector<ConversationId> RankConversations(const ConversationTable& table, const RankingRequest& request);

}  // namespace orvanel
