#include "list_style.h"

#include <QHeaderView>
#include <QTableView>

#include "res/templates.h"
#include "track_select.h"

namespace orvanel {
namespace {

constexpr std::uint32_t kGridLines = 0x01;
constexpr std::uint32_t kTrackSelect = 0x08;
constexpr std::uint32_t kHeaderDragDrop = 0x10;
constexpr std::uint32_t kFullRowSelect = 0x20;

}  // namespace

void SetReportRows(QTableView& view) {
  QHeaderView& rows = *view.verticalHeader();
  rows.hide();
  rows.setSectionResizeMode(QHeaderView::Fixed);
  rows.setMinimumSectionSize(1);
  rows.setDefaultSectionSize(view.fontMetrics().height() + 4);
}

void RenewReportRows(QTableView& view) {
  view.setVerticalHeader(new QHeaderView(Qt::Vertical, &view));
  SetReportRows(view);
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
  view.setShowGrid(style & kGridLines);
  if (style & kTrackSelect) EnableTrackSelect(view);
  view.horizontalHeader()->setSectionsMovable(style & kHeaderDragDrop);
  view.setSelectionBehavior(style & kFullRowSelect ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

}  // namespace orvanel
