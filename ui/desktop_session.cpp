#include "ui/desktop_session.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvanel {
namespace {

struct HeldMessage {
  QtMsgType type;
  QByteArray category, file, function;
  int line;
  QString text;
};

QtMessageHandler g_previousHandler = nullptr;
QList<HeldMessage>* g_heldMessages = nullptr;

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

bool PlatformArgument(int argc, char** argv) {
  for (int index = 1; index < argc; ++index) {
    if (std::strcmp(argv[index], "-platform") == 0 || std::strcmp(argv[index], "--platform") == 0) return true;
  }
  return false;
}

void SayNoDesktopSession() {
  std::fputs(
      "orvanel: the dialog needs a desktop session, and neither DISPLAY nor WAYLAND_DISPLAY leads to one.\n"
      "orvanel: to capture without a desktop, use orvanel-cli (orvanel-cli --help).\n",
      stderr);
}

// While the application object is made, Qt's only fatal message is that no
// platform could be opened, after which it would abort.
void HoldOrEnd(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    SayNoDesktopSession();
    // Qt's words say why, one line for each platform it tried: "could not
    // connect to display :77", "Failed to create wl_display (...)".
    QStringList why;
    for (const HeldMessage& held : *g_heldMessages) {
      // The plugin loader's own line only repeats that the platform failed.
      if (held.category != "qt.qpa.plugin") why << held.text.section(QLatin1Char('\n'), 0, 0);
    }
    if (why.isEmpty()) why << text.section(QLatin1Char('\n'), 0, 0);
    why.removeDuplicates();
    for (const QString& line : why) std::fprintf(stderr, "orvanel: (%s)\n", qPrintable(line));
    std::fflush(stderr);
    std::_Exit(1);
  }
  g_heldMessages->append({type, context.category, context.file, context.function, context.line, text});
}

}  // namespace

bool PrepareDesktopSession(int argc, char** argv) {
  const bool platformChosen = IsSet("QT_QPA_PLATFORM") || PlatformArgument(argc, argv);
  if (!platformChosen && !IsSet("DISPLAY")) {
    if (!IsSet("WAYLAND_DISPLAY")) {
      SayNoDesktopSession();
      return false;
    }
    setenv("QT_QPA_PLATFORM", "wayland", 1);
  }
  g_heldMessages = new QList<HeldMessage>;
  g_previousHandler = qInstallMessageHandler(HoldOrEnd);
  return true;
}

void DesktopSessionOpened() {
  if (!g_heldMessages) return;
  qInstallMessageHandler(g_previousHandler);
  for (const HeldMessage& held : *g_heldMessages) {
    const QMessageLogContext context(held.file.constData(), held.line, held.function.constData(),
                                     held.category.constData());
    qt_message_output(held.type, context, held.text);
  }
  delete g_heldMessages;
  g_heldMessages = nullptr;
}

}  // namespace orvanel
