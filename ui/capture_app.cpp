#include "ui/capture_app.h"

#include <QTimer>

#include "res/strings.h"
#include "ui/capture_dlg.h"
#include "ui/qt_translation.h"
#include "ui/window_icon.h"
#include "ui/windows_look_style.h"

namespace orvanel {

CCaptureApp::CCaptureApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Orvanel"));
  const std::string_view version = res::Version().dottedVersion;
  setApplicationVersion(QString::fromUtf8(version.data(), static_cast<qsizetype>(version.size())));
  setDesktopFileName(QStringLiteral("orvanel"));
  setStyle(new WindowsLookStyle);
  setWindowIcon(ProgramIcon());
  InstallQtChineseTranslation(*this, m_qtTranslator);
}

int CCaptureApp::InitInstance(const QStringList& files) {
  CCaptureDlg dialog;
  // Once the dialog is up, as if the files were opened from its menu.
  if (!files.isEmpty()) QTimer::singleShot(0, &dialog, [&dialog, files] { dialog.OpenCaptureFiles(files); });
  dialog.exec();
  return 0;
}

}  // namespace orvanel
