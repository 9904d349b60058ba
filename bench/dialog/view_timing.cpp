#include "view_timing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <algorithm>
#include <vector>

namespace orvanel::bench {
namespace {

constexpr int kRuns = 5;

}  // namespace

double MedianMilliseconds(QTableView& view, const std::function<void()>& setup, const std::function<void(int)>& op) {
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

ViewTimes TimeViewOperations(QTableView& view) {
  const int rows = view.model()->rowCount();
  const auto toTop = [&view] { view.scrollToTop(); };
  const auto toBottom = [&view] { view.scrollToBottom(); };
  ViewTimes times{};
  times.bottom = MedianMilliseconds(view, toTop, [&](int) { toBottom(); });
  times.top = MedianMilliseconds(view, toBottom, [&](int) { toTop(); });
  times.select = MedianMilliseconds(view, toTop, [&](int run) { view.selectRow((run + 1) * rows / (kRuns + 2)); });
  return times;
}

}  // namespace orvanel::bench
