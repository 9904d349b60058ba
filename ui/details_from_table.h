// The packet table opens a row's details window on a double-click, and on
// Enter while the table has the focus and a row is selected. Any other Enter
// goes on to the dialog as before.
#pragma once

class QTableView;

namespace orvanel {

class PacketModel;

// The view shows model; both live as long as each other. The windows open
// over the view's window.
void OpenDetailsFromTable(QTableView& view, const PacketModel& model);

}  // namespace orvanel
