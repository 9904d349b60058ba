#include "ui/packet_model.h"

#include <algorithm>

#include "capture/time_text.h"
#include "res/templates.h"
#include "ui/cell_text.h"

namespace orvanel {

static_assert(res::kPacketListColumns.size() == kPacketColumnCount, "one heading for each text of a row");

PacketModel::PacketModel(std::shared_ptr<RowSpool> spool, QObject* parent)
    : QAbstractTableModel(parent), spool_(std::move(spool)), rows_(spool_->Read()) {}

int PacketModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(window_.size());
}

int PacketModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant PacketModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount) {
    return {};
  }
  return window_[static_cast<std::size_t>(index.row())].texts[static_cast<std::size_t>(index.column())];
}

QVariant PacketModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) {
    if (section == kNumberColumn) return QStringLiteral("序号");
    if (section == kTimeColumn) return QStringLiteral("时间");
    const std::string_view heading = res::kPacketListColumns[section].heading;
    return QString::fromUtf8(heading.data(), static_cast<qsizetype>(heading.size()));
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

std::uint64_t PacketModel::TakeRows() {
  // Looked at before the matches are read: the filter publishes its matches first.
  const std::uint64_t decided = filter_ ? filter_->RowsLookedAt() : rows_.RowCount();
  const std::uint64_t available = filter_ ? filter_->Matches() : decided;
  const bool decidedMore = decided > decided_;
  decided_ = decided;
  if (available <= shown_) {
    if (decidedMore) emit rowsDecided();
    return 0;
  }
  const std::uint64_t added = available - shown_;
  shown_ = available;
  emit rowsTaken(added);
  return added;
}

void PacketModel::Clear() {
  emit listChanging();
  beginResetModel();
  spool_->Clear();
  rows_ = spool_->Read();
  filter_ = matcher_ ? RowFilter::Start(*spool_, rows_, matcher_) : nullptr;
  if (!filter_) matcher_.reset();
  shown_ = 0;
  decided_ = 0;
  top_ = 0;
  window_.clear();
  endResetModel();
  emit listCleared();
}

bool PacketModel::SetFilter(std::shared_ptr<const RowMatcher> matcher) {
  emit listChanging();
  std::shared_ptr<const RowFilter> filter = matcher ? RowFilter::Start(*spool_, rows_, matcher) : nullptr;
  if (matcher && !filter) return false;
  beginResetModel();
  filter_ = std::move(filter);
  matcher_ = std::move(matcher);
  decided_ = filter_ ? filter_->RowsLookedAt() : rows_.RowCount();
  shown_ = filter_ ? filter_->Matches() : decided_;
  top_ = 0;
  window_.clear();
  endResetModel();
  return true;
}

std::optional<std::uint64_t> PacketModel::OrdinalOf(std::uint64_t spoolIndex) const {
  const std::uint64_t ordinal = RowsBefore(spoolIndex);
  if (ordinal >= shown_ || SpoolIndex(ordinal) != spoolIndex) return std::nullopt;
  return ordinal;
}

std::uint64_t PacketModel::RowsBefore(std::uint64_t spoolIndex) const {
  if (!filter_) return std::min(spoolIndex, shown_);
  return std::min(filter_->MatchAtOrAfter(spoolIndex).value_or(shown_), shown_);
}

PacketModel::WindowRow PacketModel::MakeRow(std::uint64_t ordinal) const {
  const RowSpool::StoredRow stored = StoredRow(ordinal);
  PacketRow row;
  BuildPacketRow(ListedRowOf(stored.datagram, stored.captureTimeNs), row);
  WindowRow made{ordinal, {}};
  for (std::size_t column = 0; column < row.columns.size(); ++column) {
    const std::string_view text = row.columns[column];
    made.texts[column] = CellText(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  }
  made.texts[kNumberColumn] = QString::number(SpoolIndex(ordinal) + 1);
  const TimeText time = LocalTimeText(stored.captureTimeNs);
  made.texts[kTimeColumn] = QString::fromLatin1(time.View().data(), static_cast<qsizetype>(time.View().size()));
  return made;
}

int PacketModel::WindowRowOf(std::uint64_t ordinal) const {
  if (window_.empty() || ordinal > top_ || top_ - ordinal >= window_.size()) return -1;
  return static_cast<int>(top_ - ordinal);
}

void PacketModel::SetWindow(std::uint64_t top, int rows) {
  rows = static_cast<int>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(rows, 0)), top < shown_ ? top + 1 : 0));
  if (top == top_ && rows == rowCount()) return;
  // Rows already in the window keep their texts; only new ones are made.
  std::vector<WindowRow> next;
  next.reserve(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) {
    const std::uint64_t ordinal = top - static_cast<std::uint64_t>(row);
    const int old = WindowRowOf(ordinal);
    next.push_back(old >= 0 ? window_[static_cast<std::size_t>(old)] : MakeRow(ordinal));
  }
  // Only lines of the window whose texts changed are drawn again: rows of
  // a flood often look alike. The list's own columns (a number that always
  // changes) are told apart, and cost nothing while hidden.
  struct Changed {
    int first;
    int last = -1;
  };
  Changed rowTexts{rows};
  Changed ownTexts{rows};
  const auto note = [](Changed& changed, int row) {
    changed.first = std::min(changed.first, row);
    changed.last = row;
  };
  for (int row = 0; row < std::min(rows, rowCount()); ++row) {
    const auto& was = window_[static_cast<std::size_t>(row)].texts;
    const auto& is = next[static_cast<std::size_t>(row)].texts;
    if (!std::equal(is.begin(), is.begin() + kPacketColumnCount, was.begin())) note(rowTexts, row);
    if (!std::equal(is.begin() + kPacketColumnCount, is.end(), was.begin() + kPacketColumnCount)) note(ownTexts, row);
  }
  const int before = rowCount();
  if (rows > before) beginInsertRows({}, before, rows - 1);
  if (rows < before) beginRemoveRows({}, rows, before - 1);
  window_ = std::move(next);
  top_ = top;
  if (rows > before) endInsertRows();
  if (rows < before) endRemoveRows();
  if (rowTexts.last >= 0) {
    emit dataChanged(index(rowTexts.first, 0), index(rowTexts.last, kPacketColumnCount - 1), {Qt::DisplayRole});
  }
  if (ownTexts.last >= 0) {
    emit dataChanged(index(ownTexts.first, kPacketColumnCount), index(ownTexts.last, kColumnCount - 1),
                     {Qt::DisplayRole});
  }
}

}  // namespace orvanel
