#include "ui/data_exchange.h"

#include <QLineEdit>

namespace orvanel {
namespace {

// Setting the same text again would drop the user's selection in the field.
void Show(QLineEdit& edit, const QString& text) {
  if (edit.text() != text) edit.setText(text);
}

}  // namespace

void DataExchange::Text(QLineEdit& edit, int& value) {
  if (!save_) {
    Show(edit, QString::number(value));
    return;
  }
  bool parsed = false;
  const int number = edit.text().trimmed().toInt(&parsed);
  if (parsed) {
    value = number;
  } else {
    ok_ = false;
  }
}

void DataExchange::Text(QLineEdit& edit, QString& value) {
  if (save_) {
    value = edit.text();
  } else {
    Show(edit, value);
  }
}

}  // namespace orvanel
