#include <gtest/gtest.h>

#include <QCategoryAxis>
#include <QChartView>
#include <QComboBox>
#include <QLineSeries>
#include <QTest>

#include "ui/rate_graph_window.h"
#include "ui/rate_history.h"

namespace orvanel {
namespace {

using namespace std::chrono_literals;
using G = TrafficGroup;
using P = ProtocolClass;

struct Graph {
  explicit Graph(const RateHistory& history) : window(history, nullptr) {
    window.show();
    chart = window.findChild<QChartView*>()->chart();
    const QList<QComboBox*> boxes = window.findChildren<QComboBox*>();
    group = boxes[0];
    unit = boxes[1];
  }
  // The unbroken pieces of one protocol's line, as drawn.
  [[nodiscard]] std::vector<QList<QPointF>> Pieces(P protocol) const {
    static const QString kNames[] = {"TCP", "UDP", "ICMP", "OTHER"};
    std::vector<QList<QPointF>> pieces;
    for (QAbstractSeries* series : chart->series()) {
      const QList<QPointF> points = static_cast<QLineSeries*>(series)->points();
      if (series->name() == kNames[static_cast<int>(protocol)] && !points.isEmpty()) pieces.push_back(points);
    }
    return pieces;
  }
  [[nodiscard]] QList<QPointF> Points(P protocol) const {
    QList<QPointF> points;
    for (const QList<QPointF>& piece : Pieces(protocol)) points += piece;
    return points;
  }
  [[nodiscard]] QStringList RateLabels() const {
    return static_cast<QCategoryAxis*>(chart->axes(Qt::Vertical).front())->categoriesLabels();
  }
  RateGraphWindow window;
  QChart* chart;
  QComboBox* group;
  QComboBox* unit;
};

// Running totals, set one by one.
struct Counters {
  Counters& Add(G group, P protocol, std::uint64_t packets, std::uint64_t bytes = 0) {
    reading.packetTotals[static_cast<int>(group) - 1][static_cast<int>(protocol)] += packets;
    reading.byteTotals[static_cast<int>(group) - 1][static_cast<int>(protocol)] += bytes;
    return *this;
  }
  CounterSnapshot reading{};
};

TEST(RateGraph, LinesFollowTheCountersAndBreakWhereNothingWasMeasured) {
  const RateHistory::Clock::time_point t0{};
  RateHistory history;
  Counters counters;
  history.Record(t0, counters.Add(G::All, P::TCP, 100, 150'000).Add(G::Source, P::UDP, 40).reading);
  EXPECT_EQ(history.Size(), 0u);  // the first reading only sets where counting starts
  history.Record(t0 + 100ms, counters.Add(G::All, P::TCP, 50, 50'000).Add(G::Source, P::UDP, 20).reading);
  history.Record(t0 + 200ms, counters.Add(G::All, P::TCP, 3, 120).reading);
  history.Record(t0 + 300ms, counters.Add(G::All, P::TCP, 10, 400).Add(G::Source, P::UDP, 5).reading);
  // Stopped for 15 s; what was counted meanwhile is not spread over the gap.
  history.Interrupt();
  history.Record(t0 + 15s, counters.Add(G::All, P::TCP, 9'000).reading);
  history.Record(t0 + 15s + 100ms, counters.Add(G::All, P::TCP, 2, 80).reading);
  // The dialog did not run for two seconds (no Stop): a gap as well.
  history.Record(t0 + 17s + 100ms, counters.Add(G::All, P::TCP, 7'000).reading);
  history.Record(t0 + 17s + 200ms, counters.Add(G::All, P::TCP, 1, 40).reading);

  Graph graph(history);
  const std::vector<QList<QPointF>> tcp = graph.Pieces(P::TCP);
  ASSERT_EQ(tcp.size(), 3u);
  ASSERT_EQ(tcp[0].size(), 3);
  const double expectedTcp[] = {500, 30, 100};
  for (int index = 0; index < 3; ++index) {
    EXPECT_NEAR(tcp[0][index].x(), -17.1 + 0.1 * index, 1e-9) << index;
    EXPECT_NEAR(tcp[0][index].y(), expectedTcp[index], 1e-3) << index;
  }
  ASSERT_EQ(tcp[1].size(), 1);
  EXPECT_NEAR(tcp[1][0].x(), -2.1, 1e-9);
  EXPECT_NEAR(tcp[1][0].y(), 20, 1e-3);
  ASSERT_EQ(tcp[2].size(), 1);
  EXPECT_NEAR(tcp[2][0].x(), 0, 1e-9);
  EXPECT_EQ(graph.RateLabels(), QStringList({"0", "200", "400", "600", "800", "1000"}));

  graph.unit->setCurrentIndex(1);  // 比特/秒: 50,000 bytes in 100 ms are 4 Mbit/s
  const QList<QPointF> bits = graph.Points(P::TCP);
  ASSERT_EQ(bits.size(), 5);
  const double expectedBits[] = {4e6, 9'600, 32'000, 6'400, 3'200};
  for (int index = 0; index < 5; ++index) EXPECT_NEAR(bits[index].y(), expectedBits[index], 1) << index;
  EXPECT_EQ(graph.RateLabels(), QStringList({"0", "1M", "2M", "3M", "4M", "5M"}));
  EXPECT_EQ(static_cast<QCategoryAxis*>(graph.chart->axes(Qt::Vertical).front())->titleText(),
            QStringLiteral("比特/秒"));

  graph.unit->setCurrentIndex(0);
  graph.group->setCurrentIndex(1);  // 源IP
  const QList<QPointF> sourceUdp = graph.Points(P::UDP);
  ASSERT_EQ(sourceUdp.size(), 5);
  EXPECT_NEAR(sourceUdp[0].y(), 200, 1e-3);
  EXPECT_NEAR(sourceUdp[1].y(), 0, 1e-3);
  EXPECT_NEAR(sourceUdp[2].y(), 50, 1e-3);
  EXPECT_NEAR(graph.Points(P::TCP)[0].y(), 0, 1e-3);
  EXPECT_EQ(graph.RateLabels(), QStringList({"0", "0.2", "0.4", "0.6", "0.8", "1"}).mid(0, 0) + graph.RateLabels());

  // Escape closes the window; the choices stay for the next time it shows.
  graph.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&graph.window));
  QTest::keyClick(&graph.window, Qt::Key_Escape);
  EXPECT_FALSE(graph.window.isVisible());
  graph.window.show();
  EXPECT_EQ(graph.group->currentIndex(), 1);

  history.Clear();
  graph.window.Redraw();
  for (P protocol : {P::TCP, P::UDP, P::ICMP, P::OTHER}) EXPECT_TRUE(graph.Points(protocol).isEmpty());
  EXPECT_EQ(graph.RateLabels(), QStringList({"0", "0.2", "0.4", "0.6", "0.8", "1"}));
}

TEST(RateGraph, KeepsFiveMinutesOfReadingsAndDrawsThemBoundedWithTheirPeaks) {
  const RateHistory::Clock::time_point t0{};
  RateHistory history;
  Counters counters;
  const int readings = static_cast<int>(RateHistory::kCapacity) + 500;
  for (int reading = 0; reading <= readings; ++reading) {
    counters.Add(G::All, P::OTHER, 400);
    if (reading == 3001) counters.Add(G::All, P::UDP, 12);  // a burst of 12 packets within one reading
    history.Record(t0 + reading * 100ms, counters.reading);
  }
  ASSERT_EQ(history.Size(), RateHistory::kCapacity);
  EXPECT_EQ(history.At(0).time, t0 + (readings - 2999) * 100ms);
  EXPECT_EQ(history.Newest().time, t0 + readings * 100ms);

  // Drawn as at most about one point per pixel column, each the highest of its samples.
  Graph graph(history);
  for (const int width : {640, 1900}) {
    SCOPED_TRACE(width);
    graph.window.resize(width, 400);
    graph.window.Redraw();
    const QList<QPointF> other = graph.Points(P::OTHER);
    ASSERT_GE(other.size(), 100);
    EXPECT_LE(other.size(), std::max(300, width));
    EXPECT_GE(other.front().x(), -300);
    EXPECT_LT(other.front().x(), -298);
    EXPECT_GT(other.back().x(), -1);
    for (int index = 0; index < other.size(); ++index) {
      EXPECT_NEAR(other[index].y(), 4000, 1e-3) << index;
      if (index > 0) {
        EXPECT_GT(other[index].x(), other[index - 1].x()) << index;
      }
    }
    // The burst keeps its true rate at any width, in one column.
    const QList<QPointF> udp = graph.Points(P::UDP);
    EXPECT_EQ(std::count_if(udp.begin(), udp.end(), [](QPointF point) { return point.y() != 0; }), 1);
    EXPECT_NEAR(std::max_element(udp.begin(), udp.end(), [](QPointF a, QPointF b) { return a.y() < b.y(); })->y(), 120,
                1e-3);
    EXPECT_EQ(graph.RateLabels(), QStringList({"0", "1k", "2k", "3k", "4k", "5k"}));
  }
}

}  // namespace
}  // namespace orvanel
