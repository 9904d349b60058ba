#include <gtest/gtest.h>

#include <QChartView>
#include <QComboBox>
#include <QLineSeries>
#include <QValueAxis>
#include <climits>

#include "ui/rate_graph_window.h"
#include "ui/rate_history.h"

namespace orvanel {
namespace {

using namespace std::chrono_literals;
using G = TrafficGroup;
using P = ProtocolClass;

struct Graph {
  explicit Graph(const RateHistory& history) : window(history, nullptr) {
    chart = window.findChild<QChartView*>()->chart();
    group = window.findChild<QComboBox*>();
  }
  // The points of one protocol's line, as drawn.
  QList<QPointF> Points(P protocol) const {
    return static_cast<QLineSeries*>(chart->series()[static_cast<int>(protocol)])->points();
  }
  QString RateLabelFormat() const {
    return static_cast<QValueAxis*>(chart->axes(Qt::Vertical).front())->labelFormat();
  }
  RateGraphWindow window;
  QChart* chart;
  QComboBox* group;
};

// Counters as the dialog shows them, set one by one.
struct Counters {
  Counters& Set(G group, P protocol, std::int32_t value) {
    reading[static_cast<int>(group) - 1][static_cast<int>(protocol)] = value;
    return *this;
  }
  CounterGrid reading{};
};

TEST(RateGraph, LinesFollowTheCountersThroughZeroingAndPauses) {
  const RateHistory::Clock::time_point t0{};
  RateHistory history;
  Counters counters;
  history.Record(t0, counters.Set(G::All, P::TCP, 100).Set(G::Source, P::UDP, 40).reading);
  EXPECT_EQ(history.Size(), 0u);  // the first reading only sets where counting starts
  history.Record(t0 + 100ms, counters.Set(G::All, P::TCP, 150).Set(G::Source, P::UDP, 60).reading);
  // Clear list zeroes every counter; three were counted since.
  history.Record(t0 + 200ms, counters.Set(G::All, P::TCP, 3).Set(G::Source, P::UDP, 0).reading);
  // Start zeroes the group counters only.
  history.Record(t0 + 300ms, counters.Set(G::All, P::TCP, 13).Set(G::Source, P::UDP, 5).reading);
  // Past the largest value a counter wraps and goes on.
  history.Record(t0 + 400ms, counters.Set(G::Other, P::ICMP, INT_MAX - 4).reading);
  history.Record(t0 + 500ms, counters.Set(G::Other, P::ICMP, INT_MIN + 5).reading);

  Graph graph(history);
  const QList<QPointF> tcp = graph.Points(P::TCP);
  ASSERT_EQ(tcp.size(), 5);
  const double expectedTcp[] = {500, 30, 100, 0, 0};
  for (int index = 0; index < 5; ++index) {
    EXPECT_NEAR(tcp[index].x(), -0.4 + 0.1 * index, 1e-9) << index;
    EXPECT_NEAR(tcp[index].y(), expectedTcp[index], 1e-3) << index;
  }
  EXPECT_EQ(graph.RateLabelFormat(), QStringLiteral("%g"));

  graph.group->setCurrentIndex(3);  // 其它: a jump to near the top is counted, then the wrap goes on by 10
  const QList<QPointF> otherIcmp = graph.Points(P::ICMP);
  ASSERT_EQ(otherIcmp.size(), 5);
  EXPECT_NEAR(otherIcmp[3].y(), (INT_MAX - 4) * 10.0 / 1e6, 1e-2);
  EXPECT_NEAR(otherIcmp[4].y(), 100 / 1e6, 1e-9);
  EXPECT_EQ(graph.RateLabelFormat(), QStringLiteral("%gM"));

  graph.group->setCurrentIndex(1);  // 源IP
  const QList<QPointF> sourceUdp = graph.Points(P::UDP);
  ASSERT_EQ(sourceUdp.size(), 5);
  EXPECT_NEAR(sourceUdp[0].y(), 200, 1e-3);
  EXPECT_NEAR(sourceUdp[1].y(), 0, 1e-3);
  EXPECT_NEAR(sourceUdp[2].y(), 50, 1e-3);
  EXPECT_NEAR(graph.Points(P::TCP)[0].y(), 0, 1e-3);

  // Stopped for a minute: the lines drop to zero and stay there until the
  // first reading after the restart, which again only sets the start.
  history.Interrupt();
  history.Record(t0 + 60s, counters.Set(G::All, P::UDP, 50).reading);
  history.Record(t0 + 60s + 100ms, counters.Set(G::All, P::UDP, 250).reading);
  graph.group->setCurrentIndex(0);
  graph.window.Redraw();
  const QList<QPointF> udp = graph.Points(P::UDP);
  ASSERT_EQ(udp.size(), 8);
  EXPECT_NEAR(udp[5].x(), -59.6, 1e-9);
  EXPECT_NEAR(udp[5].y(), 0, 1e-3);
  EXPECT_NEAR(udp[6].x(), -0.1, 1e-9);
  EXPECT_NEAR(udp[6].y(), 0, 1e-3);
  EXPECT_NEAR(udp[7].y(), 2, 1e-6);
  EXPECT_EQ(graph.RateLabelFormat(), QStringLiteral("%gk"));

  history.Clear();
  graph.window.Redraw();
  for (P protocol : {P::TCP, P::UDP, P::ICMP, P::OTHER}) EXPECT_TRUE(graph.Points(protocol).isEmpty());
}

TEST(RateGraph, KeepsFiveMinutesOfReadingsAndDrawsThemBounded) {
  const RateHistory::Clock::time_point t0{};
  RateHistory history;
  Counters counters;
  const int readings = static_cast<int>(RateHistory::kCapacity) + 500;
  for (int reading = 0; reading <= readings; ++reading) {
    history.Record(t0 + reading * 100ms, counters.Set(G::All, P::OTHER, reading * 400).reading);
  }
  ASSERT_EQ(history.Size(), RateHistory::kCapacity);
  EXPECT_EQ(history.At(0).time, t0 + (readings - 2999) * 100ms);
  EXPECT_EQ(history.Newest().time, t0 + readings * 100ms);

  // Drawn as at most about one point per pixel column, each the mean of its samples.
  Graph graph(history);
  const QList<QPointF> other = graph.Points(P::OTHER);
  ASSERT_GE(other.size(), 100);
  EXPECT_LE(other.size(), graph.window.width());
  EXPECT_GE(other.front().x(), -300);
  EXPECT_LT(other.front().x(), -298);
  EXPECT_GT(other.back().x(), -1);
  for (int index = 0; index < other.size(); ++index) {
    EXPECT_NEAR(other[index].y(), 4, 1e-6) << index;
    if (index > 0) {
      EXPECT_GT(other[index].x(), other[index - 1].x()) << index;
    }
  }
  EXPECT_EQ(graph.RateLabelFormat(), QStringLiteral("%gk"));
}

}  // namespace
}  // namespace orvanel
