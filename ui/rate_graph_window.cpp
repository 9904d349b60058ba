#include "rate_graph_window.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLineSeries>
#include <QList>
#include <QPointF>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>

namespace orvanel {
namespace {

constexpr double kSpanSeconds = 300;

struct Line {
  ProtocolClass protocol;
  const char* name;
  QColor colour;
};
const Line kLines[kProtocolClassCount] = {
    {ProtocolClass::TCP, "TCP", QColor(0x1f, 0x77, 0xb4)},
    {ProtocolClass::UDP, "UDP", QColor(0xff, 0x7f, 0x0e)},
    {ProtocolClass::ICMP, "ICMP", QColor(0x2c, 0xa0, 0x2c)},
    {ProtocolClass::OTHER, "OTHER", QColor(0x7f, 0x7f, 0x7f)},
};

struct Unit {
  double size;
  const char* labelFormat;
};
Unit UnitFor(double peak) {
  if (peak >= 1e6) return {1e6, "%gM"};
  if (peak >= 1e3) return {1e3, "%gk"};
  return {1, "%g"};
}

}  // namespace

RateGraphWindow::RateGraphWindow(const RateHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history), group_(new QComboBox(this)), chart_(new QChart) {
  setWindowTitle(QStringLiteral("流量图"));
  setAttribute(Qt::WA_DeleteOnClose);
  group_->addItems({QStringLiteral("全部"), QStringLiteral("源IP"), QStringLiteral("目标IP"), QStringLiteral("其它")});
  group_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(group_, &QComboBox::currentIndexChanged, this, &RateGraphWindow::Redraw);

  time_ = new QValueAxis(chart_);
  time_->setTitleText(QStringLiteral("距现在的秒数"));
  time_->setRange(-kSpanSeconds, 0);
  time_->setTickCount(7);
  time_->setLabelFormat(QStringLiteral("%d"));
  rate_ = new QValueAxis(chart_);
  rate_->setTitleText(QStringLiteral("数据包/秒"));
  chart_->addAxis(time_, Qt::AlignBottom);
  chart_->addAxis(rate_, Qt::AlignLeft);
  for (const Line& line : kLines) {
    auto* series = new QLineSeries(chart_);
    series->setName(QString::fromLatin1(line.name));
    series->setPen(QPen(line.colour, 1.5));
    chart_->addSeries(series);
    series->attachAxis(time_);
    series->attachAxis(rate_);
    series_[static_cast<int>(line.protocol)] = series;
  }
  chart_->legend()->setAlignment(Qt::AlignBottom);

  auto* view = new QChartView(chart_, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group_, 0, Qt::AlignLeft);
  layout->addWidget(view, 1);
  resize(640, 400);
  Redraw();
}

void RateGraphWindow::Redraw() {
  const auto group = static_cast<TrafficGroup>(group_->currentIndex() + 1);
  const std::size_t size = history_.Size();
  const RateHistory::Clock::time_point now = size > 0 ? history_.Newest().time : RateHistory::Clock::time_point{};
  // Samples older than the span (after a pause) are left out.
  std::size_t first = 0;
  double peak = 0;
  for (std::size_t index = 0; index < size; ++index) {
    const RateHistory::Sample& sample = history_.At(index);
    if (now - sample.time > std::chrono::duration<double>(kSpanSeconds)) {
      first = index + 1;
      continue;
    }
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      peak = std::max<double>(peak, sample.Rate(group, static_cast<ProtocolClass>(protocol)));
    }
  }
  const Unit unit = UnitFor(peak);
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(size - first));
    for (std::size_t index = first; index < size; ++index) {
      const RateHistory::Sample& sample = history_.At(index);
      const double secondsAgo = std::chrono::duration<double>(sample.time - now).count();
      points.append({secondsAgo, sample.Rate(group, static_cast<ProtocolClass>(protocol)) / unit.size});
    }
    series_[protocol]->replace(points);
  }
  rate_->setLabelFormat(QString::fromLatin1(unit.labelFormat));
  rate_->setRange(0, std::max(1.0, peak / unit.size * 1.1));
  rate_->applyNiceNumbers();
}

}  // namespace orvanel
