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
#include <cmath>

namespace orvanel {
namespace {

constexpr double kSpanSeconds = 300;
constexpr std::size_t kMinColumns = 300;

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

// The least of 1, 2, 2.5 and 5 times a power of ten at or above value, at least 1.
double NiceTop(double value) {
  if (value <= 1) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (double step : {1.0, 2.0, 2.5, 5.0}) {
    if (step * power >= value) return step * power;
  }
  return 10 * power;
}

struct Lines {
  std::array<QList<QPointF>, kProtocolClassCount> points;  // seconds before the newest sample, packets/s
  double peak = 0;
};

// The samples of the span, at most about one point for each pixel column: a
// point is the mean of a run of samples. Runs are counted from the first
// sample ever taken, so they stay put as new samples come in.
Lines Plot(const RateHistory& history, TrafficGroup group, std::size_t columns) {
  Lines lines;
  const std::size_t size = history.Size();
  if (size == 0) return lines;
  const RateHistory::Clock::time_point now = history.Newest().time;
  std::size_t first = 0;  // samples older than the span (after a pause) are left out
  while (now - history.At(first).time > std::chrono::duration<double>(kSpanSeconds)) ++first;
  const std::uint64_t run = std::max<std::size_t>(1, (size - first + columns - 1) / columns);
  const std::uint64_t numberOfFirst = history.Appended() - size;
  const auto runOf = [&](std::size_t index) { return (numberOfFirst + index) / run; };
  for (std::size_t index = first; index < size;) {
    std::size_t end = index + 1;
    while (end < size && runOf(end) == runOf(index)) ++end;
    double secondsAgo = 0;
    std::array<double, kProtocolClassCount> rates{};
    for (std::size_t sample = index; sample < end; ++sample) {
      secondsAgo += std::chrono::duration<double>(history.At(sample).time - now).count();
      for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
        rates[protocol] += history.At(sample).Rate(group, static_cast<ProtocolClass>(protocol));
      }
    }
    const auto samples = static_cast<double>(end - index);
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      lines.points[protocol].append({secondsAgo / samples, rates[protocol] / samples});
      lines.peak = std::max(lines.peak, rates[protocol] / samples);
    }
    index = end;
  }
  return lines;
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
  rate_->setTickCount(6);
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
  const auto columns = std::max<std::size_t>(kMinColumns, static_cast<std::size_t>(chart_->plotArea().width()));
  Lines lines = Plot(history_, group, columns);
  const Unit unit = UnitFor(lines.peak);
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    for (QPointF& point : lines.points[protocol]) point.ry() /= unit.size;
    series_[protocol]->replace(lines.points[protocol]);
  }
  // A change of the axis lays the whole chart out anew: only when needed.
  const QString labelFormat = QString::fromLatin1(unit.labelFormat);
  if (rate_->labelFormat() != labelFormat) rate_->setLabelFormat(labelFormat);
  const double top = NiceTop(lines.peak / unit.size * 1.05);
  if (rate_->max() != top || rate_->min() != 0) rate_->setRange(0, top);
}

}  // namespace orvanel
