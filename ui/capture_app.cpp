#include "capture_app.h"

#include <QLibraryInfo>

#include "capture_dlg.h"
#include "res/strings.h"
#include "window_icon.h"

namespace orvanel {

bool InstallQtChineseTranslation(QCoreApplication& app, QTranslator& translator) {
  if (!translator.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return app.installTranslator(&translator);
}

CCaptureApp::CCaptureApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Orvanel"));
  const std::string_view version = res::Version().dottedVersion;
  setApplicationVersion(QString::fromUtf8(version.data(), static_cast<qsizetype>(version.size())));
  setDesktopFileName(QStringLiteral("orvanel"));
  setWindowIcon(ProgramIcon());
  InstallQtChineseTranslation(*this, m_qtTranslator);
}

int CCaptureApp::InitInstance() {
  CCaptureDlg dialog;
  dialog.exec();
  return 0;
}

}  // namespace orvanel
