#include "packet_model.h"

#include <malloc.h>

#include <limits>

#include "payload_display.h"
#include "res/templates.h"
#include "row_queue.h"

namespace orvanel {

PacketModel::PacketModel(QObject* parent) : QAbstractTableModel(parent) {}

int PacketModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

int PacketModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(res::PacketListColumns().size());
}

QVariant PacketModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
  const std::size_t row = static_cast<std::size_t>(shown_ - 1 - index.row());
  std::array<char, 16> scratch;
  const std::string_view text = store_.ColumnText(row, index.column(), scratch);
  return PayloadDisplayText(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

QVariant PacketModel::headerData(int section, Qt::Orientation orientation, int role) const {
  const auto columns = res::PacketListColumns();
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns.size())) return {};
  if (role == Qt::DisplayRole) {
    const std::string_view heading = columns[section].heading;
    return QString::fromUtf8(heading.data(), static_cast<qsizetype>(heading.size()));
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

std::size_t PacketModel::TakeRows(RowQueue& queue) {
  // A view cannot address more rows than an int holds; beyond that rows are dropped.
  const std::size_t taken = queue.DrainInto(&store_);
  if (taken == 0) return 0;
  const std::size_t limit = std::numeric_limits<int>::max();
  const int added = static_cast<int>(std::min(store_.Size(), limit) - static_cast<std::size_t>(shown_));
  if (added <= 0) return taken;
  beginInsertRows(QModelIndex(), 0, added - 1);
  shown_ += added;
  endInsertRows();
  return taken;
}

void PacketModel::Clear() {
  beginResetModel();
  store_.Clear();
  shown_ = 0;
  endResetModel();
  // Freed chunks would otherwise stay with the process: hand them back.
  malloc_trim(0);
}

}  // namespace orvanel
