#include "ui/conversation_texts.h"

#include <QDateTime>

#include "capture/address_text.h"
#include "capture/protocol.h"

namespace orvanel {
namespace {

QString ProtocolText(std::uint8_t protocol) {
  const std::string_view label = ProtocolLabel(ClassOfProtocol(protocol));
  return label.empty() ? QString::number(protocol) : QString::fromLatin1(label.data(), label.size());
}

QString Address(std::uint32_t address) {
  const DottedAddress text = AddressText(address);
  return QString::fromLatin1(text.View().data(), static_cast<qsizetype>(text.View().size()));
}

// Local time to the millisecond; empty when the time is out of the calendar's reach.
QString StartText(std::int64_t ns) {
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(ns / 1'000'000);
  return start.isValid() ? start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) : QString();
}

QString DurationText(std::uint64_t ns) { return QString::number(static_cast<double>(ns) / 1e9, 'f', 3); }

}  // namespace

QStringList ConversationHeadings() {
  return {QStringLiteral("协议"),     QStringLiteral("地址 A"), QStringLiteral("端口 A"),   QStringLiteral("地址 B"),
          QStringLiteral("端口 B"),   QStringLiteral("包 A→B"), QStringLiteral("字节 A→B"), QStringLiteral("包 B→A"),
          QStringLiteral("字节 B→A"), QStringLiteral("开始"),   QStringLiteral("持续"),     QStringLiteral("程序")};
}

QString ByteSizeText(std::uint64_t bytes) {
  if (bytes < 1000) return QString::number(bytes);
  double value = static_cast<double>(bytes);
  const char* suffix = "k";
  for (const char* next : {"k", "M", "G"}) {
    suffix = next;
    value /= 1000;
    if (value < 999.5) break;
  }
  return QString::number(value, 'f',
                         value < 9.995   ? 2
                         : value < 99.95 ? 1
                                         : 0) +
         QLatin1Char(' ') + QLatin1String(suffix);
}

bool IsBytesColumn(int column) { return column == kBytesAToBColumn || column == kBytesBToAColumn; }

bool IsNumberColumn(int column) {
  return column == kPortAColumn || column == kPortBColumn ||
         (column >= kPacketsAToBColumn && column <= kBytesBToAColumn) || column == kDurationColumn;
}

std::array<QString, kConversationColumnCount> ExactConversationCells(
    ConversationId id, const Conversation& conversation, const std::optional<ConversationProgram>& program) {
  const ConversationKey& key = conversation.key;
  const bool folded = id == kFoldedConversations;
  const auto port = [&](std::uint16_t value) { return key.hasPorts ? QString::number(value) : QString(); };
  return {folded ? QStringLiteral("其它会话") : ProtocolText(key.protocol),
          folded ? QString() : Address(key.addressA),
          port(key.portA),
          folded ? QString() : Address(key.addressB),
          port(key.portB),
          QString::number(conversation.packetsAToB),
          QString::number(conversation.bytesAToB),
          QString::number(conversation.packetsBToA),
          QString::number(conversation.bytesBToA),
          StartText(conversation.firstNs),
          DurationText(conversation.DurationNs()),
          program ? QString::fromStdString(ProgramText(*program)) : QString()};
}

std::array<QString, kConversationColumnCount> ConversationCells(ConversationId id, const Conversation& conversation,
                                                                const std::optional<ConversationProgram>& program) {
  std::array<QString, kConversationColumnCount> cells = ExactConversationCells(id, conversation, program);
  cells[kBytesAToBColumn] = ByteSizeText(conversation.bytesAToB);
  cells[kBytesBToAColumn] = ByteSizeText(conversation.bytesBToA);
  return cells;
}

}  // namespace orvanel
