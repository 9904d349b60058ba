#include "bench/dialog/view_timing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <vector>

#include "ui/packet_list_view.h"

namespace orvanel::bench {
namespace {

constexpr int kRuns = 5;

}  // namespace

double MedianMilliseconds(PacketListView& view, const std::function<void()>& setup,
                          const std::function<void(int)>& op) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    setup();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    op(run);
    QCoreApplication::processEvents();
    view.viewport()->repaint();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  std::nth_element(times.begin(), times.begin() + kRuns / 2, times.end());
  return times[kRuns / 2];
}

ViewTimes TimeViewOperations(PacketListView& view) {
  const std::uint64_t rows = view.Rows();
  const auto toTop = [&view] { view.ShowNewest(); };
  const auto toBottom = [&view] { view.ShowOldest(); };
  ViewTimes times{};
  times.bottom = MedianMilliseconds(view, toTop, [&](int) { toBottom(); });
  times.top = MedianMilliseconds(view, toBottom, [&](int) { toTop(); });
  times.select = MedianMilliseconds(
      view, toTop, [&](int run) { view.SelectOrdinal(static_cast<std::uint64_t>(run + 1) * rows / (kRuns + 2)); });
  return times;
}

}  // namespace orvanel::bench
