#include "ui/rate_graph_window.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLegendMarker>
#include <QLineSeries>
#include <QList>
#include <QPointF>
#include <QShortcut>
#include <QVBoxLayout>
#include <QValueAxis>
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

// The least of 1, 2, 2.5 and 5 times a power of ten at or above value, at least 1.
double NiceTop(double value) {
  if (value <= 1) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (double step : {1.0, 2.0, 2.5, 5.0}) {
    if (step * power >= value) return step * power;
  }
  return 10 * power;
}

// An unbroken stretch of the lines: readings without a gap between them.
struct Piece {
  std::array<QList<QPointF>, kProtocolClassCount> points;  // seconds before the newest sample, rate
};

struct Lines {
  std::vector<Piece> pieces;
  double peak = 0;
};

// The samples of the span, at most about one point for each pixel column: a
// point holds the highest reading of its run of samples, so a burst shows its
// true peak at any width. Runs are counted from the first sample ever taken,
// so they stay put as new samples come in; a gap ends a run and a piece.
Lines Plot(const RateHistory& history, TrafficGroup group, RateUnit unit, std::size_t columns) {
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
    if (lines.pieces.empty() || history.At(index).startsLine) lines.pieces.emplace_back();
    std::size_t end = index + 1;
    while (end < size && runOf(end) == runOf(index) && !history.At(end).startsLine) ++end;
    double secondsAgo = 0;
    std::array<double, kProtocolClassCount> highest{};
    for (std::size_t sample = index; sample < end; ++sample) {
      secondsAgo += std::chrono::duration<double>(history.At(sample).time - now).count();
      for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
        highest[protocol] = std::max<double>(
            highest[protocol], history.At(sample).Rate(unit, group, static_cast<ProtocolClass>(protocol)));
      }
    }
    const auto samples = static_cast<double>(end - index);
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      lines.pieces.back().points[protocol].append({secondsAgo / samples, highest[protocol]});
      lines.peak = std::max(lines.peak, highest[protocol]);
    }
    index = end;
  }
  return lines;
}

}  // namespace

RateGraphWindow::RateGraphWindow(const RateHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window),
      history_(history),
      group_(new QComboBox(this)),
      unit_(new QComboBox(this)),
      chart_(new QChart) {
  setWindowTitle(QStringLiteral("流量图"));
  connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);
  group_->addItems({QStringLiteral("全部"), QStringLiteral("源IP"), QStringLiteral("目标IP"), QStringLiteral("其它")});
  group_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(group_, &QComboBox::currentIndexChanged, this, &RateGraphWindow::Redraw);
  unit_->addItems({QStringLiteral("数据包/秒"), QStringLiteral("比特/秒")});
  unit_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(unit_, &QComboBox::currentIndexChanged, this, &RateGraphWindow::Redraw);

  time_ = new QValueAxis(chart_);
  time_->setTitleText(QStringLiteral("距现在的秒数"));
  time_->setRange(-kSpanSeconds, 0);
  time_->setTickCount(7);
  time_->setLabelFormat(QStringLiteral("%d"));
  rate_ = new QCategoryAxis(chart_);
  rate_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  rate_->setStartValue(0);
  chart_->addAxis(time_, Qt::AlignBottom);
  chart_->addAxis(rate_, Qt::AlignLeft);
  for (const Line& line : kLines) AddSeries(line.protocol);
  chart_->legend()->setAlignment(Qt::AlignBottom);

  auto* view = new QChartView(chart_, this);
  view->setToolTip(
      QStringLiteral("每个点是它那一像素列所含读数（每 0.1 秒一次）中的最高值；线断开处没有读数（已停止）"));
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(group_);
  boxes->addWidget(unit_);
  boxes->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(boxes);
  layout->addWidget(view, 1);
  resize(640, 400);
}

void RateGraphWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Redraw();
}

QLineSeries* RateGraphWindow::AddSeries(ProtocolClass protocol) {
  const Line& line = kLines[static_cast<int>(protocol)];
  auto* series = new QLineSeries(chart_);
  series->setName(QString::fromLatin1(line.name));
  series->setPen(QPen(line.colour, 1.5));
  chart_->addSeries(series);
  series->attachAxis(time_);
  series->attachAxis(rate_);
  std::vector<QLineSeries*>& pieces = series_[static_cast<int>(protocol)];
  if (!pieces.empty()) {
    for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
  }
  pieces.push_back(series);
  return series;
}

void RateGraphWindow::Redraw() {
  if (!isVisible()) return;
  const auto group = static_cast<TrafficGroup>(group_->currentIndex() + 1);
  const auto unit = unit_->currentIndex() == 1 ? RateUnit::Bits : RateUnit::Packets;
  const auto columns = std::max<std::size_t>(kMinColumns, static_cast<std::size_t>(chart_->plotArea().width()));
  const Lines lines = Plot(history_, group, unit, columns);
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    std::vector<QLineSeries*>& pieces = series_[protocol];
    while (pieces.size() < lines.pieces.size()) AddSeries(static_cast<ProtocolClass>(protocol));
    for (std::size_t piece = 0; piece < pieces.size(); ++piece) {
      if (piece < lines.pieces.size()) {
        pieces[piece]->replace(lines.pieces[piece].points[protocol]);
      } else if (pieces[piece]->count() > 0) {
        pieces[piece]->clear();
      }
    }
  }
  if (rate_->titleText() != unit_->currentText()) rate_->setTitleText(unit_->currentText());
  SetRateTicks(NiceTop(lines.peak * 1.05));
}

// Labels at zero and five steps up to top, in k, M and G steps as link speeds
// are read, and "0" at zero. A change of the axis lays the whole chart out
// anew: only when the top moves.
void RateGraphWindow::SetRateTicks(double top) {
  if (top == rateTop_) return;
  rateTop_ = top;
  for (const QString& label : rate_->categoriesLabels()) rate_->remove(label);
  constexpr int kSteps = 5;
  double size = 1;
  QString suffix;
  for (const auto& [unit, name] : {std::pair{1e9, "G"}, {1e6, "M"}, {1e3, "k"}}) {
    if (top / kSteps >= unit) {
      size = unit;
      suffix = QString::fromLatin1(name);
      break;
    }
  }
  for (int step = 0; step <= kSteps; ++step) {
    const double value = top * step / kSteps;
    rate_->append(step == 0 ? QStringLiteral("0") : QString::number(value / size, 'g', 4) + suffix, value);
  }
  rate_->setRange(0, top);
}

}  // namespace orvanel
