// The application object: Chinese standard buttons, the program icon, and
// the main dialog run modally.
#pragma once

#include <QApplication>
#include <QTranslator>

namespace orvanel {

class CCaptureApp final : public QApplication {
  Q_OBJECT

 public:
  CCaptureApp(int& argc, char** argv);

  // Runs the main dialog until it closes; the process then ends.
  int InitInstance();

 private:
  QTranslator m_qtTranslator;
};

// Loads Qt's own zh_CN translation, which gives the message boxes' "确定".
bool InstallQtChineseTranslation(QCoreApplication& app, QTranslator& translator);

}  // namespace orvanel
