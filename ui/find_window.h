// "查找": a small window beside the dialog, in the manner of the Windows find
// box. It finds rows of the packet list by a capture-filter expression or by
// text in the payload column, on a thread of its own with progress, and can
// show only the matching rows.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace orvanel {

class ExpressionField;
class PacketListView;
class RowMatcher;
class RowSearch;

class FindWindow final : public QDialog {
  Q_OBJECT

 public:
  FindWindow(PacketListView& view, QWidget* parent);
  ~FindWindow() override;

  // Shows the window with its text selected for typing.
  void Open();
  // From the selected row to the next match down the list (older rows), or
  // up it; selects the match and scrolls it into view.
  void FindNext(bool up);
  // The chosen direction.
  void FindInChosenDirection();
  // Stops a running search; the list is about to change under it.
  void Stop();
  // Shows the window with expression in it and lists only the rows it
  // takes, as ticking "只显示匹配的行" would.
  void ShowOnlyMatching(const QString& expression);

  // What the window finds and shows, for the dialog's tests.
  [[nodiscard]] QLineEdit& What() const { return *what_; }
  [[nodiscard]] ExpressionField& Field() const { return *field_; }
  [[nodiscard]] QCheckBox& OnlyMatching() const { return *onlyMatching_; }
  [[nodiscard]] QLabel& Status() const { return *status_; }
  [[nodiscard]] bool Searching() const { return search_ != nullptr; }

 protected:
  void reject() override;

 private:
  std::shared_ptr<const RowMatcher> Matcher();
  [[nodiscard]] QString Sought() const;
  void Poll();
  void ApplyFilter();
  void ShowCounts();
  void PlaceBesideList();

  PacketListView& view_;
  ExpressionField* field_;
  QLineEdit* what_;  // the field's text
  QRadioButton* expression_;
  QRadioButton* payload_;
  QRadioButton* up_;
  QRadioButton* down_;
  QCheckBox* onlyMatching_;
  QPushButton* findNext_;
  QPushButton* cancel_;
  QLabel* status_;
  QProgressBar* progress_;
  QTimer poll_;
  std::unique_ptr<RowSearch> search_;
  bool searchUp_ = false;
  QString searchSought_;
  int pressesAhead_ = 0;  // F3 presses while search_ ran
};

}  // namespace orvanel
