// Rows arrive at the top of the packet table. While the user looks at older
// rows (scrolled away from the top), the view moves with them so they stay
// where they are on screen; at the top it keeps showing the newest.
#pragma once

class QTableView;

namespace orvanel {

// Call after the view has its model.
void KeepRowsInView(QTableView& view);

}  // namespace orvanel
