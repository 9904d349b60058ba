#include "ui/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace orvanel {

bool InstallQtChineseTranslation(QCoreApplication& app, QTranslator& translator) {
  if (!translator.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return app.installTranslator(&translator);
}

}  // namespace orvanel
