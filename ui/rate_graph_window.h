// The "流量图" window: packets or bits per second of one group over the last
// five minutes, a line for each protocol class, broken where nothing was measured.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "ui/rate_history.h"

class QCategoryAxis;
class QChart;
class QComboBox;
class QLineSeries;
class QValueAxis;

namespace orvanel {

class RateGraphWindow final : public QWidget {
  Q_OBJECT

 public:
  RateGraphWindow(const RateHistory& history, QWidget* parent);

  // Draws the history anew while shown; call after each change to it.
  void Redraw();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineSeries* AddSeries(ProtocolClass protocol);
  void SetRateTicks(double top);

  const RateHistory& history_;
  QComboBox* group_;
  QComboBox* unit_;
  QChart* chart_;
  QValueAxis* time_;
  QCategoryAxis* rate_;
  double rateTop_ = -1;
  // A series for each unbroken piece of a line; the first carries the legend.
  std::array<std::vector<QLineSeries*>, kProtocolClassCount> series_;
};

}  // namespace orvanel
