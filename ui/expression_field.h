// The find window's text field: an editable drop-down of the last 20
// expressions used, kept across runs. While it holds an expression it turns
// green when libpcap compiles what is typed and red when it does not, with
// libpcap's reason in its tooltip, as Wireshark's filter bar does.
#pragma once

#include <QComboBox>

namespace orvanel {

class ExpressionCheck;

class ExpressionField final : public QComboBox {
  Q_OBJECT

 public:
  static constexpr int kHistory = 20;

  explicit ExpressionField(QWidget* parent = nullptr);

  // Whether the text is an expression, checked as it is typed.
  void SetChecking(bool checking);
  // Puts the text first in the history.
  void Remember();

 private:
  void Typed();
  void Show(const QString& expression, const QString& error);

  ExpressionCheck* check_;
  bool checking_ = true;
};

}  // namespace orvanel
