// GoogleTest with a headless QApplication, the program's style and Qt's Chinese buttons, as the program has.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>

#include "ui/qt_translation.h"
#include "ui/windows_look_style.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  // Settings the tests keep go to a test place, not the user's own.
  QStandardPaths::setTestModeEnabled(true);
  // ... and one of this run's own, as test programs may run side by side.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  app.setStyle(new orvanel::WindowsLookStyle);
  QTranslator translator;
  orvanel::InstallQtChineseTranslation(app, translator);
  return RUN_ALL_TESTS();
}
