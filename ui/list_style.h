// The packet table's look: columns and extended list styles.
#pragma once

#include <cstdint>

class QTableView;

namespace orvanel {

// A report view: one text line a row, all rows alike, no row headers.
void SetReportRows(QTableView& view);

// Gives the view a fresh row header set up by SetReportRows. Qt keeps the
// capacity of a header's section list (8 bytes a row) when the model is
// emptied; call this after emptying it to give that memory back.
void RenewReportRows(QTableView& view);

// Column widths from the template; the model gives the headings.
void SetPacketColumns(QTableView& view);

// The res::ListExtendedStyle flags in style.
void SetExtendedListStyle(QTableView& view, std::uint32_t style);

}  // namespace orvanel
