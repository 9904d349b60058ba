#include "bench/dialog/event_timing.h"

#include <time.h>

#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace orvanel::bench {
namespace {

constexpr int kRefreshInterval = 100;
constexpr int kRowInterval = 50;

double Max(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Wall time includes the time the thread waited for a core on a busy machine.
qint64 ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return qint64{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

void EventTiming::Reset() { *this = EventTiming(); }

EventTiming::Figures EventTiming::Take() {
  return {Max(refresh_),  Median(refresh_), gapMax_,     Max(rows_),  Max(paint_),
          Median(paint_), longest_,         longestCpu_, longestKind_};
}

EventTiming::Kind EventTiming::KindOf(QObject* receiver, QEvent* event) {
  if (event->type() == QEvent::Timer) {
    if (const auto* timer = qobject_cast<QTimer*>(receiver)) {
      if (timer->interval() == kRefreshInterval) return Kind::Refresh;
      if (timer->interval() == kRowInterval) return Kind::Rows;
    }
  } else if (event->type() == QEvent::UpdateRequest && receiver->isWidgetType() &&
             static_cast<QWidget*>(receiver)->isWindow()) {
    return Kind::Paint;
  }
  return Kind::Other;
}

void EventTiming::Record(Kind kind, const QByteArray& description, qint64 startNs, qint64 endNs, qint64 cpuNs) {
  const double ms = static_cast<double>(endNs - startNs) / 1e6;
  if (ms > longest_) {
    longest_ = ms;
    longestCpu_ = static_cast<double>(cpuNs) / 1e6;
    longestKind_ = description;
  }
  switch (kind) {
    case Kind::Refresh:
      refresh_.push_back(ms);
      if (lastRefreshNs_ >= 0) gapMax_ = std::max(gapMax_, static_cast<double>(startNs - lastRefreshNs_) / 1e6);
      lastRefreshNs_ = startNs;
      break;
    case Kind::Rows: rows_.push_back(ms); break;
    case Kind::Paint: paint_.push_back(ms); break;
    case Kind::Other: break;
  }
}

bool TimingApplication::notify(QObject* receiver, QEvent* event) {
  if (!clock_.isValid()) clock_.start();
  if (depth_ > 0) return QApplication::notify(receiver, event);
  ++depth_;
  const EventTiming::Kind kind = EventTiming::KindOf(receiver, event);
  const QByteArray description =
      QByteArray::number(static_cast<int>(event->type())) + ':' + receiver->metaObject()->className();
  const qint64 start = clock_.nsecsElapsed();
  const qint64 cpuStart = ThreadCpuNs();
  const bool result = QApplication::notify(receiver, event);
  timing_.Record(kind, description, start, clock_.nsecsElapsed(), ThreadCpuNs() - cpuStart);
  --depth_;
  return result;
}

}  // namespace orvanel::bench
