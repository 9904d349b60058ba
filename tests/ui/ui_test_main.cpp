// GoogleTest with a headless QApplication and Qt's Chinese buttons, as the program has.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTranslator>

#include "ui/qt_translation.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QTranslator translator;
  orvanel::InstallQtChineseTranslation(app, translator);
  return RUN_ALL_TESTS();
}
