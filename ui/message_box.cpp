#include "ui/message_box.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace orvanel {

void ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Orvanel"), text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void ShowFatalMessage(QWidget* parent, const QString& text) {
  ShowMessage(parent, text);
  // At once: no dialog is closed and nothing is unwound first.
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace orvanel
