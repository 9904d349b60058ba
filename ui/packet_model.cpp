#include "packet_model.h"

#include <algorithm>
#include <limits>

#include "capture/packet_decode.h"
#include "cell_text.h"
#include "res/templates.h"

namespace orvanel {

static_assert(res::kPacketListColumns.size() == kPacketColumnCount, "one heading for each text of a row");

PacketModel::PacketModel(RowSpool& spool, QObject* parent) : QAbstractTableModel(parent), spool_(spool) {}

int PacketModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

int PacketModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kPacketColumnCount;
}

QVariant PacketModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_ || index.column() >= kPacketColumnCount) {
    return {};
  }
  const RowSpool::StoredRow stored = ViewRow(index.row());
  PacketRow texts;
  BuildPacketRow(ListedRowOf(stored.datagram, stored.captureTimeNs), texts);
  const std::string_view text = texts.columns[static_cast<std::size_t>(index.column())];
  return CellText(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

QVariant PacketModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kPacketColumnCount) return {};
  if (role == Qt::DisplayRole) {
    const std::string_view heading = res::kPacketListColumns[section].heading;
    return QString::fromUtf8(heading.data(), static_cast<qsizetype>(heading.size()));
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

std::size_t PacketModel::TakeRows() {
  // A view cannot address more rows than an int holds; the rest stay in the spool.
  const std::size_t available = std::min<std::size_t>(spool_.RowCount(), std::numeric_limits<int>::max());
  if (available <= static_cast<std::size_t>(shown_)) return 0;
  const int added = static_cast<int>(available) - shown_;
  beginInsertRows(QModelIndex(), 0, added - 1);
  shown_ += added;
  endInsertRows();
  return static_cast<std::size_t>(added);
}

void PacketModel::Clear() {
  beginResetModel();
  spool_.Clear();
  shown_ = 0;
  endResetModel();
}

}  // namespace orvanel
