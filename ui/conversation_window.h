// "会话统计": who talks to whom. One row per conversation, sorted by any
// column, narrowed by address, port or program text, refreshed once a second; from a
// conversation to its rows in the packet list.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <thread>
#include <vector>

#include "capture/conversation_ranking.h"

class QLabel;
class QLineEdit;
class QTableView;

namespace orvanel {

class ConversationModel;
class ConversationRanker;

class ConversationWindow final : public QWidget {
  Q_OBJECT

 public:
  // showOnly lists only the rows a capture-filter expression takes;
  // programOf (may be empty) gives the "程序" column. The table outlives the
  // window.
  ConversationWindow(const ConversationTable& table, ProgramFinder programOf,
                     std::function<void(const QString&)> showOnly, QWidget* parent);
  ~ConversationWindow() override;  // waits for a running ranking and save

  // The table was emptied: so is the list, at once.
  void Clear();
  // Ranks the conversations now, as the next refresh would.
  void Refresh();

  // For the dialog's tests.
  [[nodiscard]] QTableView& View() const { return *view_; }
  [[nodiscard]] QLineEdit& Narrowing() const { return *narrowing_; }
  [[nodiscard]] QLabel& Status() const { return *status_; }
  [[nodiscard]] ConversationModel& Model() const { return *model_; }
  [[nodiscard]] bool Ranking() const;
  // Lists only the conversation of a row in the packet list.
  void ShowOnlyConversation(int row);
  // The selected conversations as tab-separated lines, in the order shown.
  [[nodiscard]] QString SelectedText() const;
  // The list as CSV with a heading line; an error text, or nothing.
  [[nodiscard]] std::optional<QString> SaveCsv(const QString& path) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Apply(std::vector<ConversationId> ranking);
  void SortBy(int column);
  void ShowStatus();
  void ShowMenu(const QPoint& position);
  void OnSaveCsv();

  const ConversationTable& table_;
  const ProgramFinder programOf_;
  std::function<void(const QString&)> showOnly_;
  ConversationModel* model_;
  ConversationRanker* ranker_;
  QLineEdit* narrowing_;
  QLabel* status_;
  QTableView* view_;
  QTimer refresh_;
  RankingRequest request_;
  std::thread save_;
};

}  // namespace orvanel
