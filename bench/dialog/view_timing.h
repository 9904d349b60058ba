// UI-thread time of operations on a packet table view, with their layout and
// painting.
#pragma once

#include <functional>

namespace orvanel {
class PacketListView;
}

namespace orvanel::bench {

// Median of five runs of op (given the run's number), each followed by the
// events it caused and a paint of the view; setup runs untimed before each.
double MedianMilliseconds(PacketListView& view, const std::function<void()>& setup, const std::function<void(int)>& op);

struct ViewTimes {
  double bottom;  // scroll from the top to the bottom
  double top;     // and back
  double select;  // select a row in the middle
};
ViewTimes TimeViewOperations(PacketListView& view);

}  // namespace orvanel::bench
