// The conversation list's model: the conversations in the order of the last
// ranking, their counts read from the table as they are drawn.
#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <vector>

#include "capture/conversation_program.h"
#include "capture/conversation_table.h"

namespace orvanel {

class ConversationModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The table outlives the model; programOf may be empty.
  ConversationModel(const ConversationTable& table, ProgramFinder programOf, QObject* parent = nullptr);

  [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                    int role = Qt::DisplayRole) const override;

  // The rows become these conversations, in this order.
  void SetRanking(std::vector<ConversationId> ranking);
  // The counts of every row are drawn again.
  void CountsChanged();

  [[nodiscard]] ConversationId IdAt(int row) const { return ranking_[static_cast<std::size_t>(row)]; }
  // The conversation of a row, while its slot still holds it.
  [[nodiscard]] std::optional<Conversation> At(int row) const;
  [[nodiscard]] std::optional<ConversationProgram> ProgramAt(int row) const;
  [[nodiscard]] const std::vector<ConversationId>& Ranking() const { return ranking_; }

 private:
  const ConversationTable& table_;
  const ProgramFinder programOf_;
  std::vector<ConversationId> ranking_;
};

}  // namespace orvanel
