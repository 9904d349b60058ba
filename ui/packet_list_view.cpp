#include "ui/packet_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <limits>

#include "capture/packet_row.h"
#include "capture/tsv_row.h"
#include "ui/packet_model.h"

namespace orvanel {
namespace {

// A scroll bar holds an int: past that many positions, it moves in steps of more than one row.
constexpr std::uint64_t kBarMaximum = std::numeric_limits<int>::max();

int BarValue(std::uint64_t position, std::uint64_t maxPosition) {
  if (maxPosition <= kBarMaximum) return static_cast<int>(position);
  return static_cast<int>(static_cast<unsigned __int128>(position) * kBarMaximum / maxPosition);
}

std::uint64_t PositionOfBar(int value, std::uint64_t maxPosition) {
  if (maxPosition <= kBarMaximum) return static_cast<std::uint64_t>(value);
  return static_cast<std::uint64_t>(static_cast<unsigned __int128>(value) * maxPosition / kBarMaximum);
}

// Sets a flag for the lifetime of the guard.
class Busy {
 public:
  explicit Busy(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
  ~Busy() { flag_ = was_; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  bool& flag_;
  const bool was_;
};

// The list's scroll bar. Its range grows at every tick while rows arrive;
// once the slider is at its smallest the bar looks the same, and is not
// drawn again for it.
class ListScrollBar final : public QScrollBar {
 public:
  explicit ListScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

 protected:
  void sliderChange(SliderChange change) override {
    if (change == SliderRangeChange && drawn_ == Look()) return;
    QScrollBar::sliderChange(change);
  }
  void paintEvent(QPaintEvent* event) override {
    drawn_ = Look();
    QScrollBar::paintEvent(event);
  }

 private:
  struct Looks {
    QRect slider;
    bool atMinimum;
    bool atMaximum;
    friend bool operator==(const Looks&, const Looks&) = default;
  };
  [[nodiscard]] Looks Look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
  }

  std::optional<Looks> drawn_;
};

}  // namespace

PacketListView::PacketListView(QWidget* parent) : QTableView(parent), rowBar_(new ListScrollBar(this)) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(ScrollPerItem);
  rowBar_->setRange(0, 0);
  rowBar_->setFocusPolicy(Qt::NoFocus);
  rowBar_->hide();
  connect(rowBar_, &QScrollBar::valueChanged, this, &PacketListView::OnBarMoved);
}

void PacketListView::SetPackets(PacketModel& model) {
  packets_ = &model;
  setModel(&model);
  connect(&model, &PacketModel::rowsTaken, this, &PacketListView::OnRowsTaken);
  connect(&model, &PacketModel::rowsDecided, this, &PacketListView::TakeUpSelection);
  connect(&model, &PacketModel::listCleared, this, &PacketListView::OnCleared);
  connect(&model, &QObject::destroyed, this, [this] { packets_ = nullptr; });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnCurrentChanged(current); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { OnSelectionChanged(); });
  Relayout();
}

std::uint64_t PacketListView::Rows() const { return packets_ ? packets_->ShownRows() : 0; }

std::optional<PacketListView::Selection> PacketListView::Selected() const {
  if (selection_.Empty()) return std::nullopt;
  return Selection{selection_.Ranges().front().first, selection_.Ranges().back().last};
}

int PacketListView::FullyVisibleRows() const {
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  return std::max(1, viewport()->height() / rowHeight);
}

// Positions count from the newest row, 0, down to the oldest.
std::uint64_t PacketListView::TopPosition() const { return Rows() == 0 ? 0 : Rows() - 1 - top_; }

std::uint64_t PacketListView::MaxTopPosition() const {
  const auto visible = static_cast<std::uint64_t>(FullyVisibleRows());
  return Rows() > visible ? Rows() - visible : 0;
}

void PacketListView::SetTopPosition(std::uint64_t position) {
  position = std::min(position, MaxTopPosition());
  atNewest_ = position == 0;
  top_ = Rows() == 0 ? 0 : Rows() - 1 - position;
  Relayout();
}

void PacketListView::Relayout() {
  if (!packets_) return;
  Busy busy(syncing_);
  if (atNewest_) top_ = Rows() == 0 ? 0 : Rows() - 1;
  // After a resize the top may lie past the last full page.
  if (TopPosition() > MaxTopPosition()) top_ = Rows() - 1 - MaxTopPosition();
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  const int fit = (viewport()->height() + rowHeight - 1) / rowHeight;
  packets_->SetWindow(top_, std::max(fit, 1));
  const std::uint64_t maxPosition = MaxTopPosition();
  rowBar_->setRange(0, BarValue(maxPosition, maxPosition));
  rowBar_->setPageStep(FullyVisibleRows());
  rowBar_->setSingleStep(1);
  rowBar_->setValue(BarValue(TopPosition(), maxPosition));
  SyncSelection();
  // As a list control's, the bar shows only when the rows do not all fit.
  if (rowBar_->isHidden() == (maxPosition > 0)) {
    rowBar_->setHidden(maxPosition == 0);
    updateGeometries();
  }
}

void PacketListView::SyncSelection() {
  QItemSelectionModel* selection = selectionModel();
  if (!selection || !packets_) return;
  Busy busy(syncing_);
  const int rows = packets_->rowCount();
  QItemSelection shown;
  if (rows > 0) {
    // The window holds ordinals top_ down to top_ - rows + 1.
    const std::uint64_t bottom = top_ - static_cast<std::uint64_t>(rows - 1);
    for (const RowSelection::Range& range : selection_.Ranges()) {
      if (range.last < bottom) continue;
      if (range.first > top_) break;
      const std::uint64_t high = std::min(range.last, top_);
      const std::uint64_t low = std::max(range.first, bottom);
      shown.select(packets_->index(packets_->WindowRowOf(high), 0),
                   packets_->index(packets_->WindowRowOf(low), packets_->columnCount() - 1));
    }
  }
  selection->select(shown, QItemSelectionModel::ClearAndSelect);
  const int currentRow = current_ ? packets_->WindowRowOf(*current_) : -1;
  selection->setCurrentIndex(currentRow >= 0 ? packets_->index(currentRow, 0) : QModelIndex(),
                             QItemSelectionModel::NoUpdate);
}

void PacketListView::OnCurrentChanged(const QModelIndex& current) {
  if (syncing_ || !current.isValid()) return;
  current_ = packets_->OrdinalAt(current.row());
}

// The user selected a row of the window (a click, a drag, track-select): that
// row alone, with Shift the rows from the anchor to it, with Ctrl that row
// beside the others.
void PacketListView::OnSelectionChanged() {
  if (syncing_) return;
  const QModelIndexList rows = selectionModel()->selectedRows();
  const Qt::KeyboardModifiers modifiers = QApplication::keyboardModifiers();
  if (rows.isEmpty()) {
    if (!(modifiers & Qt::ControlModifier)) selection_.Clear();
  } else {
    const std::uint64_t ordinal = packets_->OrdinalAt(rows.front().row());
    if (modifiers & Qt::ControlModifier) {
      if (!selection_.Add({ordinal, ordinal})) QApplication::beep();
    } else {
      if (!(modifiers & Qt::ShiftModifier) || selection_.Empty() || !anchor_) anchor_ = ordinal;
      selection_.SelectOnly(*anchor_, ordinal);
    }
    current_ = ordinal;
  }
  SyncSelection();
}

void PacketListView::OnRowsTaken() {
  Relayout();
  TakeUpSelection();
}

void PacketListView::OnCleared() {
  top_ = 0;
  atNewest_ = true;
  anchor_.reset();
  current_.reset();
  selection_.Clear();
  pending_.reset();
  Relayout();
}

void PacketListView::OnBarMoved(int value) {
  if (syncing_) return;
  SetTopPosition(PositionOfBar(value, MaxTopPosition()));
}

void PacketListView::BringIntoView(std::uint64_t ordinal) {
  if (ordinal >= Rows()) return;
  const std::uint64_t position = Rows() - 1 - ordinal;
  const auto visible = static_cast<std::uint64_t>(FullyVisibleRows());
  const std::uint64_t top = TopPosition();
  if (position < top) {
    SetTopPosition(position);
  } else if (position >= top + visible) {
    SetTopPosition(position - visible + 1);
  }
}

void PacketListView::SelectOrdinal(std::uint64_t ordinal) {
  if (ordinal >= Rows()) return;
  anchor_ = ordinal;
  current_ = ordinal;
  selection_.SelectOnly(ordinal, ordinal);
  BringIntoView(ordinal);
  SyncSelection();
}

void PacketListView::ToggleOrdinal(std::uint64_t ordinal) {
  if (ordinal >= Rows()) return;
  if (!selection_.Toggle(ordinal)) {
    QApplication::beep();
    return;
  }
  anchor_ = ordinal;
  current_ = ordinal;
  SyncSelection();
}

void PacketListView::SelectAllRows() {
  if (Rows() == 0) return;
  selection_.SelectOnly(0, Rows() - 1);
  if (!current_) current_ = Rows() - 1;
  if (!anchor_) anchor_ = current_;
  SyncSelection();
}

bool PacketListView::ShowOnly(std::shared_ptr<const RowMatcher> matcher) {
  const auto spoolIndex = [this](std::optional<std::uint64_t> ordinal) {
    return ordinal ? std::optional(packets_->SpoolIndex(*ordinal)) : std::nullopt;
  };
  SpoolSelection was{{}, spoolIndex(anchor_), spoolIndex(current_)};
  for (const RowSelection::Range& range : selection_.Ranges()) {
    was.ranges.push_back({packets_->SpoolIndex(range.first), packets_->SpoolIndex(range.last)});
  }
  if (!packets_->SetFilter(std::move(matcher))) return false;
  pending_ = std::move(was);
  anchor_.reset();
  current_.reset();
  selection_.Clear();
  top_ = 0;
  atNewest_ = true;
  Relayout();
  TakeUpSelection();
  return true;
}

// The rows selected before the list was filtered anew, selected again once
// the filter has looked that far; each range keeps its rows in the new list.
// A selection made meanwhile wins.
void PacketListView::TakeUpSelection() {
  if (!pending_) return;
  if (!selection_.Empty()) {
    pending_.reset();
    return;
  }
  std::uint64_t needed = pending_->current.value_or(0);
  for (const RowSelection::Range& range : pending_->ranges) needed = std::max(needed, range.last);
  if (packets_->SpoolRowsDecided() <= needed) return;
  const SpoolSelection was = *std::exchange(pending_, std::nullopt);
  anchor_ = was.anchor ? packets_->OrdinalOf(*was.anchor) : std::nullopt;
  current_ = was.current ? packets_->OrdinalOf(*was.current) : std::nullopt;
  if (!anchor_) anchor_ = current_;
  std::vector<RowSelection::Range> ranges;
  for (const RowSelection::Range& range : was.ranges) {
    const std::uint64_t first = packets_->RowsBefore(range.first);
    const std::uint64_t end = packets_->RowsBefore(range.last + 1);
    if (first < end) ranges.push_back({first, end - 1});
  }
  selection_.Set(std::move(ranges));
  SyncSelection();
  if (current_) BringIntoView(*current_);
}

QString PacketListView::SelectedRowsText() const {
  std::string text;
  PacketRow texts;
  std::uint64_t left = kCopyRows;
  // Newest first, as shown.
  const std::vector<RowSelection::Range>& ranges = selection_.Ranges();
  for (auto range = ranges.rbegin(); range != ranges.rend() && left > 0; ++range) {
    const std::uint64_t rows = std::min(range->last - range->first + 1, left);
    for (std::uint64_t row = 0; row < rows; ++row) {
      const RowSpool::StoredRow stored = packets_->StoredRow(range->last - row);
      BuildPacketRow(ListedRowOf(stored.datagram, stored.captureTimeNs), texts);
      AppendTsvRow(text, texts);
      text += '\n';
    }
    left -= rows;
  }
  return QString::fromLatin1(text);  // escaped: ASCII only
}

void PacketListView::CopySelected() {
  if (selection_.Empty()) return;
  QGuiApplication::clipboard()->setText(SelectedRowsText());
  const std::uint64_t selected = selection_.Rows();
  if (selected > kCopyRows) {
    QToolTip::showText(viewport()->mapToGlobal(viewport()->rect().center()),
                       QStringLiteral("只复制了前 %1 行（共选中 %2 行）").arg(kCopyRows).arg(selected), this);
  }
}

bool PacketListView::IsSelected(std::uint64_t ordinal) const { return selection_.Contains(ordinal); }

void PacketListView::ShowNewest() { SetTopPosition(0); }

void PacketListView::ShowOldest() { SetTopPosition(MaxTopPosition()); }

void PacketListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid() || !packets_ || syncing_) return;
  // The window is always on screen: only the rows of the list move, and sideways the columns.
  BringIntoView(packets_->OrdinalAt(index.row()));
  const int row = packets_->WindowRowOf(packets_->OrdinalAt(index.row()));
  if (row >= 0 && row < FullyVisibleRows()) QTableView::scrollTo(packets_->index(row, index.column()), hint);
}

// Moves the current row by rows (down is older), selecting it, or the rows
// from the anchor to it.
void PacketListView::MoveCurrent(std::int64_t rowsDown, bool extend) {
  if (Rows() == 0) return;
  const std::uint64_t newest = Rows() - 1;
  std::uint64_t ordinal = current_ ? std::min(*current_, newest) : newest;
  if (current_) {
    if (rowsDown > 0) {
      ordinal = ordinal > static_cast<std::uint64_t>(rowsDown) ? ordinal - static_cast<std::uint64_t>(rowsDown) : 0;
    } else {
      const auto up = static_cast<std::uint64_t>(-rowsDown);
      ordinal = newest - ordinal > up ? ordinal + up : newest;
    }
  }
  if (!extend || selection_.Empty() || !anchor_) anchor_ = ordinal;
  current_ = ordinal;
  selection_.SelectOnly(*anchor_, ordinal);
  BringIntoView(ordinal);
  SyncSelection();
}

void PacketListView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    CopySelected();
    event->accept();
    return;
  }
  if (event == QKeySequence::SelectAll) {
    SelectAllRows();
    event->accept();
    return;
  }
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const std::int64_t page = std::max(1, FullyVisibleRows() - 1);
  constexpr std::int64_t kAll = std::numeric_limits<std::int64_t>::max();
  switch (event->key()) {
    case Qt::Key_Up: MoveCurrent(-1, extend); break;
    case Qt::Key_Down: MoveCurrent(current_ ? 1 : 0, extend); break;
    case Qt::Key_PageUp: MoveCurrent(-page, extend); break;
    case Qt::Key_PageDown: MoveCurrent(current_ ? page : 0, extend); break;
    case Qt::Key_Home: MoveCurrent(-kAll, extend); break;
    case Qt::Key_End: MoveCurrent(kAll, extend); break;
    default: QTableView::keyPressEvent(event); return;
  }
  event->accept();
}

// Ctrl+click adds or removes one row; the table's own selection holds one.
void PacketListView::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier) && index.isValid() && packets_) {
    ToggleOrdinal(packets_->OrdinalAt(index.row()));
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

void PacketListView::wheelEvent(QWheelEvent* event) {
  if (event->angleDelta().y() != 0) {
    QApplication::sendEvent(rowBar_, event);
  } else {
    QTableView::wheelEvent(event);
  }
}

// Places the list's scroll bar along the right edge, from the header's top,
// as a list control has it, and the header beside it.
void PacketListView::updateGeometries() {
  if (placing_) return;
  {
    Busy placing(placing_);
    QTableView::updateGeometries();
    const QMargins margins = viewportMargins();
    const int barWidth = rowBar_->isHidden() ? 0 : rowBar_->sizeHint().width();
    setViewportMargins(margins.left(), margins.top(), barWidth, margins.bottom());
    const QRect area = viewport()->geometry();
    const int headerHeight = horizontalHeader()->isHidden() ? 0 : horizontalHeader()->height();
    horizontalHeader()->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
    rowBar_->setGeometry(area.right() + 1, area.top() - headerHeight, barWidth, area.height() + headerHeight);
  }
  Relayout();
}

}  // namespace orvanel
