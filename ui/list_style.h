// The packet table's look: columns and extended list styles.
#pragma once

#include <cstdint>

class QTableView;

namespace orvanel {

// A report view: one text line a row, all rows alike, no row headers.
void SetReportRows(QTableView& view);

// Column widths from the template; the model gives the headings.
void SetPacketColumns(QTableView& view);

// The res::ListExtendedStyle flags in style.
void SetExtendedListStyle(QTableView& view, std::uint32_t style);

}  // namespace orvanel
