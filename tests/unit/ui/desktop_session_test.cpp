#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace orvanel {
namespace {

TEST(DesktopSession, WithoutADisplayTheProgramSaysSoAndEndsWithStatusOne) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(ORVANEL_PROGRAM), {});
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 1);
  const QString message = QString::fromLocal8Bit(program.readAllStandardError());
  EXPECT_TRUE(message.contains("DISPLAY") && message.contains("WAYLAND_DISPLAY")) << message.toStdString();
  EXPECT_TRUE(message.contains("orvanel-cli")) << message.toStdString();
}

}  // namespace
}  // namespace orvanel
