#include "ui/list_style.h"

#include <QHeaderView>
#include <QTableView>

#include "res/templates.h"
#include "ui/track_select.h"

namespace orvanel {

void SetReportRows(QTableView& view) {
  QHeaderView& rows = *view.verticalHeader();
  rows.hide();
  rows.setSectionResizeMode(QHeaderView::Fixed);
  rows.setMinimumSectionSize(1);
  rows.setDefaultSectionSize(view.fontMetrics().height() + 4);
}

void SetPacketColumns(QTableView& view) {
  QHeaderView& header = *view.horizontalHeader();
  header.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header.setStretchLastSection(false);
  header.setHighlightSections(false);
  for (int column = 0; column < static_cast<int>(res::kPacketListColumns.size()); ++column) {
    view.setColumnWidth(column, res::kPacketListColumns[column].widthPixels);
  }
}

void SetExtendedListStyle(QTableView& view, std::uint32_t style) {
  view.setShowGrid(style & res::kGridLines);
  if (style & res::kTrackSelect) EnableTrackSelect(view);
  view.horizontalHeader()->setSectionsMovable(style & res::kHeaderDragDrop);
  view.setSelectionBehavior(style & res::kFullRowSelect ? QAbstractItemView::SelectRows
                                                        : QAbstractItemView::SelectItems);
}

}  // namespace orvanel
