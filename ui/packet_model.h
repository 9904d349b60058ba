// The packet table's model: rows from the capture queue, newest on top,
// formatted only when the view asks for them.
#pragma once

#include <QAbstractTableModel>

#include "packet_store.h"

namespace orvanel {

class RowQueue;

class PacketModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit PacketModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Inserts every row the queue holds at the top, in one batch. Returns the count.
  std::size_t TakeRows(RowQueue& queue);
  // Deletes every row.
  void Clear();

  const PacketStore& Store() const { return store_; }

 private:
  PacketStore store_;
  int shown_ = 0;  // rows the view knows of; the store may hold more while a batch is added
};

}  // namespace orvanel
