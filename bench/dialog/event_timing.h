// UI-thread time of the dialog's work, taken from inside event delivery: its
// 100 ms counter refresh and 50 ms row ticks (told apart by their timers'
// intervals), the window's painting, and the longest of any event.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <vector>

namespace orvanel::bench {

class EventTiming {
 public:
  struct Figures {
    double refreshMaxMs = 0, refreshMedianMs = 0;
    double refreshGapMaxMs = 0;  // between the starts of two refresh ticks
    double rowsMaxMs = 0;
    double paintMaxMs = 0, paintMedianMs = 0;
    double longestEventMs = 0;
    double longestEventCpuMs = 0;  // the UI thread's CPU time in that event
    QByteArray longestEventKind;   // event type:receiver class
  };

  void Reset();
  Figures Take();  // since the last Reset
  enum class Kind { Refresh, Rows, Paint, Other };
  // Read before delivery: a receiver may delete itself while handling it.
  static Kind KindOf(QObject* receiver, QEvent* event);
  void Record(Kind kind, const QByteArray& description, qint64 startNs, qint64 endNs, qint64 cpuNs);

 private:
  std::vector<double> refresh_, rows_, paint_;
  double longest_ = 0;
  double longestCpu_ = 0;
  QByteArray longestKind_;
  double gapMax_ = 0;
  qint64 lastRefreshNs_ = -1;
};

class TimingApplication final : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
  EventTiming& Timing() { return timing_; }

 private:
  EventTiming timing_;
  QElapsedTimer clock_;
  int depth_ = 0;
};

}  // namespace orvanel::bench
