// The application object: Chinese standard buttons, the program icon, and
// the main dialog run modally.
#pragma once

#include <QApplication>
#include <QStringList>
#include <QTranslator>

namespace orvanel {

class CCaptureApp final : public QApplication {
  Q_OBJECT

 public:
  CCaptureApp(int& argc, char** argv);

  // Runs the main dialog until it closes, opening the capture files first;
  // the process then ends.
  int InitInstance(const QStringList& files = {});

 private:
  QTranslator m_qtTranslator;
};

}  // namespace orvanel
