// A row's own menu in the packet list. A right-click on a row selects it
// unless it is selected, then offers copy, its details, the clicked cell's
// value as a filter, and find. A right-click beside the rows goes on to the
// dialog's menu.
#pragma once

#include <functional>

namespace orvanel {

class FindWindow;
class PacketListView;

// finder gives the find window, made when first asked for.
void AddRowMenu(PacketListView& view, std::function<FindWindow&()> finder);

}  // namespace orvanel
