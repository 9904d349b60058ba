#include "ui/expression_check.h"

#include "session/row_match.h"

namespace orvanel {
namespace {

constexpr int kPollMilliseconds = 20;

}  // namespace

ExpressionCheck::ExpressionCheck(QObject* parent) : QObject(parent) {
  poll_.setInterval(kPollMilliseconds);
  connect(&poll_, &QTimer::timeout, this, &ExpressionCheck::Poll);
}

ExpressionCheck::~ExpressionCheck() {
  if (thread_.joinable()) thread_.join();
}

void ExpressionCheck::Check(const QString& expression) {
  if (thread_.joinable()) {
    next_ = expression;
    return;
  }
  Start(expression);
}

void ExpressionCheck::Start(const QString& expression) {
  checking_ = expression;
  done_.store(false, std::memory_order_relaxed);
  thread_ = std::thread([this, text = expression.toStdString()] {
    std::string error;
    if (RowMatcher::ForExpression(text, error)) error.clear();
    error_ = std::move(error);
    done_.store(true, std::memory_order_release);
  });
  poll_.start();
}

void ExpressionCheck::Poll() {
  if (!done_.load(std::memory_order_acquire)) return;
  thread_.join();
  poll_.stop();
  if (next_) {
    Start(*std::exchange(next_, std::nullopt));
    return;  // the text changed: this result is old
  }
  emit checked(checking_, QString::fromStdString(error_));
}

}  // namespace orvanel
