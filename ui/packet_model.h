// The packet table's model: a window of the rows of the spool that fit on
// screen, newest on top. Rows are addressed by their ordinal in the list
// (0 the oldest, 64-bit); the model holds the texts of the window's rows
// alone, made once when a row comes into the window, and nothing per row
// of the list.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "capture/packet_row.h"
#include "session/row_filter.h"
#include "storage/row_spool.h"

namespace orvanel {

class PacketModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The row texts' columns, then two of the list's own, hidden at first: the
  // row's number since the list was last cleared, from 1, and its capture time.
  static constexpr int kNumberColumn = kPacketColumnCount;
  static constexpr int kTimeColumn = kPacketColumnCount + 1;
  static constexpr int kColumnCount = kPacketColumnCount + 2;

  explicit PacketModel(std::shared_ptr<RowSpool> spool, QObject* parent = nullptr);

  // The window's rows.
  [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                    int role = Qt::DisplayRole) const override;

  // Takes the rows the spool (or the filter) took since the last call into
  // the list, whose ordinals never change until Clear or a new filter; the
  // work does not grow with the rows. Returns the count.
  std::uint64_t TakeRows();
  // Deletes every row; a filter goes on over the rows that come after.
  void Clear();

  // The list becomes the rows matcher takes, found by a filter as they come,
  // or with no matcher all rows again. False when no filter can be kept.
  bool SetFilter(std::shared_ptr<const RowMatcher> matcher);
  const std::shared_ptr<const RowFilter>& Filter() const { return filter_; }
  // The spool rows the list is made of, the filter's or all of them.
  const RowSpool::Reader& Rows() const { return rows_; }

  // Rows of the list, and one of them by ordinal.
  [[nodiscard]] std::uint64_t ShownRows() const { return shown_; }
  // The spool rows the list is whole for: a filter still looking may list
  // matches among the rows after them later.
  std::uint64_t SpoolRowsDecided() const { return decided_; }
  std::uint64_t SpoolIndex(std::uint64_t ordinal) const { return filter_ ? filter_->SpoolIndex(ordinal) : ordinal; }
  RowSpool::StoredRow StoredRow(std::uint64_t ordinal) const { return rows_.Row(SpoolIndex(ordinal)); }
  // The ordinal of a spool row in the list, if it is listed.
  [[nodiscard]] std::optional<std::uint64_t> OrdinalOf(std::uint64_t spoolIndex) const;
  // How many rows of the list lie before a spool row: the ordinal of the
  // first listed row at or after it.
  [[nodiscard]] std::uint64_t RowsBefore(std::uint64_t spoolIndex) const;

  // Shows rows top, top - 1, ... (newest first), at most rows of them.
  void SetWindow(std::uint64_t top, int rows);
  // The ordinal of a row of the window; row < rowCount().
  [[nodiscard]] std::uint64_t OrdinalAt(int row) const { return top_ - static_cast<std::uint64_t>(row); }
  // The window's row of an ordinal, or -1.
  [[nodiscard]] int WindowRowOf(std::uint64_t ordinal) const;
  [[nodiscard]] RowSpool::StoredRow ViewRow(int row) const { return StoredRow(OrdinalAt(row)); }

 signals:
  // The list grew by added rows at the top; the window is unchanged.
  void rowsTaken(std::uint64_t added);
  // The list is whole for more spool rows, with no row added.
  void rowsDecided();
  // The list is about to be emptied or filtered anew: what was looked for in
  // it means nothing in the next one.
  void listChanging();
  // The list was emptied.
  void listCleared();

 private:
  struct WindowRow {
    std::uint64_t ordinal;
    std::array<QString, kColumnCount> texts;
  };
  [[nodiscard]] WindowRow MakeRow(std::uint64_t ordinal) const;

  const std::shared_ptr<RowSpool> spool_;
  RowSpool::Reader rows_;
  std::shared_ptr<const RowMatcher> matcher_;
  std::shared_ptr<const RowFilter> filter_;
  std::uint64_t shown_ = 0;  // rows of the list; the spool (or the filter) may hold more
  std::uint64_t decided_ = 0;
  std::uint64_t top_ = 0;
  std::vector<WindowRow> window_;
};

}  // namespace orvanel
