#include <gtest/gtest.h>

#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <filesystem>

#include "ui/command_line.h"

namespace orvanel {
namespace {

struct ProgramRun {
  int status = -1;
  QString out, err;
};

ProgramRun RunProgram(const QStringList& arguments, const QProcessEnvironment& environment) {
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(ORVANEL_PROGRAM), arguments);
  ProgramRun run;
  if (!program.waitForFinished(20000) || program.exitStatus() != QProcess::NormalExit) return run;
  run.status = program.exitCode();
  run.out = QString::fromLocal8Bit(program.readAllStandardOutput());
  run.err = QString::fromLocal8Bit(program.readAllStandardError());
  return run;
}

QProcessEnvironment WithoutDisplay() {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
  return environment;
}

// An X display number no server answers on.
QString UnusedDisplay() {
  for (int number = 190;; ++number) {
    const std::string name = std::to_string(number);
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + name) && !std::filesystem::exists("/tmp/.X" + name + "-lock")) {
      return QStringLiteral(":%1").arg(number);
    }
  }
}

TEST(DesktopSession, WithoutAUsableDisplayTheProgramSaysSoAndEndsWithStatusOne) {
  const QTemporaryDir runtime;  // no Wayland server listens in it
  QProcessEnvironment unusableX = WithoutDisplay(), unusableWayland = WithoutDisplay();
  unusableX.insert(QStringLiteral("DISPLAY"), UnusedDisplay());
  unusableWayland.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("orvanel-test-none"));
  unusableWayland.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
  const ProgramRun none = RunProgram({}, WithoutDisplay());
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(none.err.contains("DISPLAY") && none.err.contains("WAYLAND_DISPLAY")) << none.err.toStdString();
  EXPECT_TRUE(none.err.contains("orvanel-cli")) << none.err.toStdString();
  QProcessEnvironment unusableBoth = unusableWayland;
  unusableBoth.insert(QStringLiteral("DISPLAY"), unusableX.value(QStringLiteral("DISPLAY")));
  for (const QProcessEnvironment& environment : {unusableX, unusableWayland, unusableBoth}) {
    const ProgramRun run = RunProgram({}, environment);
    EXPECT_EQ(run.status, 1) << run.err.toStdString();  // not Qt's abort
    EXPECT_TRUE(run.err.startsWith(none.err)) << run.err.toStdString();
  }
  // Both dead: each one's reason.
  const ProgramRun both = RunProgram({}, unusableBoth);
  EXPECT_TRUE(both.err.contains(unusableX.value(QStringLiteral("DISPLAY")))) << both.err.toStdString();
  EXPECT_TRUE(both.err.contains(QStringLiteral("wl_display"))) << both.err.toStdString();
  EXPECT_FALSE(both.err.contains(QStringLiteral("Could not load"))) << both.err.toStdString();
}

TEST(DesktopSession, HelpVersionAndBadOptionsNeedNoDisplay) {
  const ProgramRun help = RunProgram({QStringLiteral("--help")}, WithoutDisplay());
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.startsWith("Usage: orvanel [FILE]...")) << help.out.toStdString();
  EXPECT_EQ(RunProgram({QStringLiteral("-h")}, WithoutDisplay()).out, help.out);
  const ProgramRun version = RunProgram({QStringLiteral("--version")}, WithoutDisplay());
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.startsWith("orvanel 1.")) << version.out.toStdString();
  for (const QString& bad : {QStringLiteral("--bogus"), QStringLiteral("-style")}) {
    const ProgramRun run = RunProgram({QStringLiteral("a.pcap"), bad}, WithoutDisplay());
    EXPECT_EQ(run.status, 2) << bad.toStdString();
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.startsWith("orvanel: ") && run.err.contains(bad)) << run.err.toStdString();
  }
}

TEST(DesktopSession, CaptureFilesFromTheCommandLineAndTheDesktopEntry) {
  const char* arguments[] = {"orvanel",  "-style",   "fusion", "a.pcap", "-platform=offscreen",
                             "b.pcapng", "-reverse", "--",     "-c.pcap"};
  const CommandLine line = ParseCommandLine(static_cast<int>(std::size(arguments)), arguments);
  EXPECT_EQ(line.action, CommandLine::Action::Run);
  EXPECT_EQ(line.files, (std::vector<std::string>{"a.pcap", "b.pcapng", "-c.pcap"}));

  // A file manager offers the program for what the system calls a capture
  // file, and passes it every file chosen.
  QFile entry(QStringLiteral(ORVANEL_DESKTOP_ENTRY));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  QStringList mimeTypes;
  QString exec;
  for (const QString& line : QString::fromUtf8(entry.readAll()).split('\n')) {
    if (line.startsWith("MimeType=")) mimeTypes = line.mid(9).split(';', Qt::SkipEmptyParts);
    if (line.startsWith("Exec=")) exec = line.mid(5);
  }
  EXPECT_EQ(exec, QStringLiteral("orvanel %F"));
  const QMimeDatabase mime;
  EXPECT_TRUE(mimeTypes.contains(mime.mimeTypeForFile(QStringLiteral("x.pcap"), QMimeDatabase::MatchExtension).name()))
      << mimeTypes.join(' ').toStdString();
  EXPECT_TRUE(mimeTypes.contains(QStringLiteral("application/x-pcapng")));  // Wireshark's name for it
}

}  // namespace
}  // namespace orvanel
