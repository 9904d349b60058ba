// The "流量图" window: packets per second of one group over the last five
// minutes, a line for each protocol class.
#pragma once

#include <QWidget>
#include <array>

#include "rate_history.h"

class QChart;
class QComboBox;
class QLineSeries;
class QValueAxis;

namespace orvanel {

class RateGraphWindow final : public QWidget {
  Q_OBJECT

 public:
  RateGraphWindow(const RateHistory& history, QWidget* parent);

  // Draws the history anew; call after each change to it.
  void Redraw();

 private:
  const RateHistory& history_;
  QComboBox* group_;
  QChart* chart_;
  QValueAxis* time_;
  QValueAxis* rate_;
  std::array<QLineSeries*, kProtocolClassCount> series_;
};

}  // namespace orvanel
