#include "ui/conversation_model.h"

#include "ui/conversation_texts.h"

namespace orvanel {

ConversationModel::ConversationModel(const ConversationTable& table, ProgramFinder programOf, QObject* parent)
    : QAbstractTableModel(parent), table_(table), programOf_(std::move(programOf)) {}

int ConversationModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(ranking_.size());
}

int ConversationModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kConversationColumnCount;
}

std::optional<Conversation> ConversationModel::At(int row) const {
  if (row < 0 || row >= rowCount()) return std::nullopt;
  return table_.Read(IdAt(row));
}

std::optional<ConversationProgram> ConversationModel::ProgramAt(int row) const {
  if (row < 0 || row >= rowCount() || !programOf_) return std::nullopt;
  return programOf_(IdAt(row));
}

QVariant ConversationModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() >= kConversationColumnCount) return {};
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue((IsNumberColumn(index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const std::optional<Conversation> conversation = At(index.row());
  if (!conversation) {
    // Folded or cleared since the ranking; the next one leaves it out.
    return role == Qt::DisplayRole && index.column() == kProtocolColumn ? QStringLiteral("（已合并）") : QVariant();
  }
  if (role == Qt::ToolTipRole) {
    if (!IsBytesColumn(index.column())) return {};
    return QStringLiteral("%1 字节").arg(index.column() == kBytesAToBColumn ? conversation->bytesAToB
                                                                            : conversation->bytesBToA);
  }
  return ConversationCells(IdAt(index.row()), *conversation,
                           index.column() == kProgramColumn ? ProgramAt(index.row())
                                                            : std::nullopt)[static_cast<std::size_t>(index.column())];
}

QVariant ConversationModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kConversationColumnCount) return {};
  if (role == Qt::DisplayRole) return ConversationHeadings()[section];
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

// Not a reset: at a million rows the view would lay out every row again.
// Rows come or go at the end, and the rest are drawn anew.
void ConversationModel::SetRanking(std::vector<ConversationId> ranking) {
  const int before = rowCount();
  const int after = static_cast<int>(ranking.size());
  if (after > before) beginInsertRows({}, before, after - 1);
  if (after < before) beginRemoveRows({}, after, before - 1);
  ranking_ = std::move(ranking);
  if (after > before) endInsertRows();
  if (after < before) endRemoveRows();
  CountsChanged();
}

void ConversationModel::CountsChanged() {
  if (!ranking_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kConversationColumnCount - 1));
}

}  // namespace orvanel
