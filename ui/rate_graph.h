// The rate graph behind the dialog's menu entry. Readings are taken whether
// or not its window is open, so the window shows the last five minutes at once.
#pragma once

#include <QPointer>

#include "ui/rate_graph_window.h"
#include "ui/rate_history.h"

class QWidget;

namespace orvanel {

class RateGraph {
 public:
  explicit RateGraph(QWidget& owner) : owner_(owner) {}

  void Read(const CounterSnapshot& counters);  // at each counter refresh
  void Interrupt();                            // at Stop: the graph stands still
  void Clear();                                // at Clear list: the graph empties
  void Show();                                 // opens the one window, or raises it

 private:
  void Redraw();

  QWidget& owner_;
  RateHistory history_;
  QPointer<RateGraphWindow> window_;
};

}  // namespace orvanel
