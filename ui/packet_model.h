// The packet table's model: the rows of the spool, newest on top, formatted
// only when the view asks for them.
#pragma once

#include <QAbstractTableModel>

#include "capture/row_spool.h"

namespace orvanel {

class PacketModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The spool outlives the model.
  explicit PacketModel(RowSpool& spool, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Shows the rows the spool took since the last call, in one insert at the
  // top: the work does not grow with the packet rate. Returns the count.
  std::size_t TakeRows();
  // Deletes every row.
  void Clear();

  // Rows shown, oldest first, as the spool keeps them.
  std::size_t ShownRows() const { return static_cast<std::size_t>(shown_); }
  RowSpool::StoredRow StoredRow(std::size_t oldestFirst) const { return spool_.Row(oldestFirst); }
  // The row the view shows at row, 0 being the newest; row < ShownRows().
  RowSpool::StoredRow ViewRow(int row) const { return spool_.Row(static_cast<std::size_t>(shown_ - 1 - row)); }

 private:
  RowSpool& spool_;
  int shown_ = 0;  // rows the view knows of; the spool may hold more
};

}  // namespace orvanel
