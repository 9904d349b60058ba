#include "ui/rate_graph.h"

namespace orvanel {

void RateGraph::Read(const CounterSnapshot& counters) {
  history_.Record(RateHistory::Clock::now(), counters);
  Redraw();
}

void RateGraph::Interrupt() { history_.Interrupt(); }

void RateGraph::Clear() {
  history_.Clear();
  Redraw();
}

void RateGraph::Show() {
  if (!window_) window_ = new RateGraphWindow(history_, &owner_);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void RateGraph::Redraw() {
  if (window_) window_->Redraw();
}

}  // namespace orvanel
