// The packet table opens a row's details window on a double-click, and on
// Enter while the table has the focus and a row is selected. Any other Enter
// goes on to the dialog as before.
#pragma once

#include <cstdint>

namespace orvanel {

class PacketListView;

// The windows open over the view's window.
void OpenDetailsFromTable(PacketListView& view);
// Opens the details window of one row of the list.
void OpenRowDetails(PacketListView& view, std::uint64_t ordinal);

}  // namespace orvanel
