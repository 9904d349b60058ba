// The packet table: a table view over the window of rows that fits on screen,
// with a scroll bar of its own over the whole list. Scrolling, the keyboard
// and the selection work in 64-bit list positions, so neither the view nor
// the model keeps anything per row of the list. Rows that arrive at the top
// keep the rows on screen where they are, unless the view shows the newest.
#pragma once

#include <QTableView>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ui/row_selection.h"

class QScrollBar;

namespace orvanel {

class PacketModel;
class RowMatcher;

class PacketListView final : public QTableView {
  Q_OBJECT

 public:
  explicit PacketListView(QWidget* parent = nullptr);

  // The view shows model, which outlives it.
  void SetPackets(PacketModel& model);
  [[nodiscard]] PacketModel& Packets() const { return *packets_; }
  // The program of a listed datagram's conversation, for "数据包详情".
  using DatagramProgram = std::function<QString(std::span<const std::uint8_t>)>;
  void SetDatagramProgram(DatagramProgram programOf) { programOf_ = std::move(programOf); }
  [[nodiscard]] QString ProgramOf(std::span<const std::uint8_t> datagram) const {
    return programOf_ ? programOf_(datagram) : QString();
  }

  // Rows of the list, whether on screen or not.
  [[nodiscard]] std::uint64_t Rows() const;
  // The scroll bar over the whole list (the view's own one stays hidden).
  [[nodiscard]] QScrollBar& RowScrollBar() const { return *rowBar_; }

  // The lowest and the highest selected row as ordinals of the list;
  // nothing when none is selected.
  struct Selection {
    std::uint64_t first;
    std::uint64_t last;
  };
  [[nodiscard]] std::optional<Selection> Selected() const;
  // Every selected row: runs of them, as ranges.
  [[nodiscard]] const RowSelection& SelectedRows() const { return selection_; }
  // The current row: the end of the selection that moves, or where the
  // keyboard starts from when nothing is selected; or nothing.
  [[nodiscard]] std::optional<std::uint64_t> CurrentRow() const { return current_; }
  // Selects one row and scrolls it into view.
  void SelectOrdinal(std::uint64_t ordinal);
  // Selects or deselects one row beside the others, as Ctrl+click does.
  void ToggleOrdinal(std::uint64_t ordinal);
  // Every row of the list, as Ctrl+A does.
  void SelectAllRows();
  // Shows only the rows matcher takes, or with no matcher all rows again;
  // the selected row stays selected, and in view, when it is in the new list.
  // False when no filter can be kept.
  bool ShowOnly(std::shared_ptr<const RowMatcher> matcher);
  // The selected rows as the cli's TSV lines, in the order shown; at most
  // kCopyRows of them. Ctrl+C puts them on the clipboard.
  [[nodiscard]] QString SelectedRowsText() const;
  static constexpr std::uint64_t kCopyRows = 100'000;
  // Puts SelectedRowsText on the clipboard, as Ctrl+C does; past kCopyRows
  // rows a tooltip says how many were copied.
  void CopySelected();
  [[nodiscard]] bool IsSelected(std::uint64_t ordinal) const;
  // The list from its newest row, or its oldest.
  void ShowNewest();
  void ShowOldest();

  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void updateGeometries() override;

 private:
  [[nodiscard]] std::uint64_t TopPosition() const;
  [[nodiscard]] std::uint64_t MaxTopPosition() const;
  [[nodiscard]] int FullyVisibleRows() const;
  void SetTopPosition(std::uint64_t position);
  void BringIntoView(std::uint64_t ordinal);
  void Relayout();
  void SyncSelection();
  void OnRowsTaken();
  void OnCleared();
  void OnBarMoved(int value);
  void OnCurrentChanged(const QModelIndex& current);
  void OnSelectionChanged();
  void MoveCurrent(std::int64_t rowsDown, bool extend);
  void TakeUpSelection();

  PacketModel* packets_ = nullptr;
  DatagramProgram programOf_;
  QScrollBar* rowBar_;
  // The ordinal of the top row on screen; when atNewest_, the newest row.
  std::uint64_t top_ = 0;
  bool atNewest_ = true;
  // The selected rows; a Shift selection runs from anchor_ to current_, and
  // current_ may be set while nothing is selected.
  RowSelection selection_;
  std::optional<std::uint64_t> anchor_;
  std::optional<std::uint64_t> current_;
  // The selection in spool rows while a new filter has not yet looked that far.
  struct SpoolSelection {
    std::vector<RowSelection::Range> ranges;
    std::optional<std::uint64_t> anchor;
    std::optional<std::uint64_t> current;
  };
  std::optional<SpoolSelection> pending_;
  bool syncing_ = false;  // the view itself changes the window, bar or selection
  bool placing_ = false;
};

}  // namespace orvanel
