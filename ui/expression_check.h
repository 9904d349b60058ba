// Checks filter expressions as they are typed: libpcap compiles each on a
// thread of the pool (a host name in one is looked up, which may take a
// while), one at a time, always the latest text next.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <optional>

namespace orvanel {

class ExpressionCheck final : public QObject {
  Q_OBJECT

 public:
  explicit ExpressionCheck(QObject* parent = nullptr);
  ~ExpressionCheck() override;

  void Check(const QString& expression);

 signals:
  // libpcap's reason, empty when the expression compiles.
  void checked(const QString& expression, const QString& error);

 private:
  struct Result {
    QString expression;
    QString error;
  };
  void Start(const QString& expression);
  void OnFinished();

  QFutureWatcher<Result> watcher_;
  std::optional<QString> next_;  // typed while a check ran
};

}  // namespace orvanel
