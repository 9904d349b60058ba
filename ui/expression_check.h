// Checks filter expressions as they are typed: libpcap compiles each on a
// thread of its own, since a host name in one is looked up, which may take a
// while (libpcap compiles on several threads at once since 1.8). One check
// at a time; the latest text typed meanwhile goes next.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

namespace orvanel {

class ExpressionCheck final : public QObject {
  Q_OBJECT

 public:
  explicit ExpressionCheck(QObject* parent = nullptr);
  ~ExpressionCheck() override;  // waits for a check under way

  void Check(const QString& expression);

 signals:
  // libpcap's reason, empty when the expression compiles.
  void checked(const QString& expression, const QString& error);

 private:
  void Start(const QString& expression);
  void Poll();

  QTimer poll_;
  std::thread thread_;
  QString checking_;
  std::string error_;  // written by the thread before done_
  std::atomic<bool> done_{false};
  std::optional<QString> next_;  // typed while a check ran
};

}  // namespace orvanel
