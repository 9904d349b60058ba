// The packet list's two optional columns, "序号" and "时间": hidden at first,
// so the list looks as it always has, and placed first when shown, as
// Wireshark places them. The header's right-click menu shows or hides each,
// and the choice is kept for the next run.
#pragma once

namespace orvanel {

class PacketListView;

void AddOptionalColumns(PacketListView& view);

}  // namespace orvanel
