#include "message_box.h"

#include <QMessageBox>
#include <cstdlib>

namespace orvanel {

void ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Orvanel"), text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void ShowFatalMessage(QWidget* parent, const QString& text) {
  ShowMessage(parent, text);
  std::exit(0);
}

}  // namespace orvanel
