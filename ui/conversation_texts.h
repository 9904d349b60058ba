// The texts of the conversation list: its headings, its cells as shown, and
// its rows as copied and saved (exact numbers).
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "capture/conversation.h"
#include "capture/conversation_program.h"

namespace orvanel {

inline constexpr int kConversationColumnCount = 12;
enum ConversationColumn {
  kProtocolColumn,
  kAddressAColumn,
  kPortAColumn,
  kAddressBColumn,
  kPortBColumn,
  kPacketsAToBColumn,
  kBytesAToBColumn,
  kPacketsBToAColumn,
  kBytesBToAColumn,
  kStartColumn,
  kDurationColumn,
  kProgramColumn,
};

QStringList ConversationHeadings();

// Bytes in k, M and G steps (of 1000), three figures.
QString ByteSizeText(std::uint64_t bytes);
bool IsBytesColumn(int column);
bool IsNumberColumn(int column);

// The cells of a conversation, or of the folded row, as the list shows them.
std::array<QString, kConversationColumnCount> ConversationCells(ConversationId id, const Conversation& conversation,
                                                                const std::optional<ConversationProgram>& program);
// The same with bytes as exact numbers: for copies and files.
std::array<QString, kConversationColumnCount> ExactConversationCells(ConversationId id,
                                                                     const Conversation& conversation,
                                                                     const std::optional<ConversationProgram>& program);

}  // namespace orvanel
