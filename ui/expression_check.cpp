#include "ui/expression_check.h"

#include <QtConcurrent/QtConcurrentRun>

#include "session/row_match.h"

namespace orvanel {

ExpressionCheck::ExpressionCheck(QObject* parent) : QObject(parent) {
  connect(&watcher_, &QFutureWatcher<Result>::finished, this, &ExpressionCheck::OnFinished);
}

// The check runs on; its result goes nowhere.
ExpressionCheck::~ExpressionCheck() = default;

void ExpressionCheck::Check(const QString& expression) {
  if (watcher_.isRunning()) {
    next_ = expression;
    return;
  }
  Start(expression);
}

void ExpressionCheck::Start(const QString& expression) {
  watcher_.setFuture(QtConcurrent::run([expression] {
    std::string error;
    const bool compiles = RowMatcher::ForExpression(expression.toStdString(), error) != nullptr;
    return Result{expression, compiles ? QString() : QString::fromStdString(error)};
  }));
}

void ExpressionCheck::OnFinished() {
  const Result result = watcher_.result();
  if (next_) {
    Start(*std::exchange(next_, std::nullopt));
    return;  // the text changed: this result is old
  }
  emit checked(result.expression, result.error);
}

}  // namespace orvanel
