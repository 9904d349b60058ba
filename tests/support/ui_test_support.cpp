#include "tests/support/ui_test_support.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "res/resource.h"
#include "ui/capture_dlg.h"
#include "ui/packet_list_view.h"

namespace orvanel::test {

bool ChooseAddress(CCaptureDlg& dialog, const QString& address) {
  auto* combo = static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE));
  const int index = combo->findText(address);
  if (index < 0) return false;
  combo->setCurrentIndex(index);
  return true;
}

int Rows(CCaptureDlg& dialog) {
  return static_cast<int>(static_cast<PacketListView*>(dialog.GetDlgItem(res::IDC_LIST_PACKETS))->Rows());
}

std::optional<SeenModal> RunExpectingModal(const std::function<void()>& action,
                                           const std::function<void(QWidget&)>& close) {
  std::optional<SeenModal> seen;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || seen) return;
    SeenModal record;
    record.className = QString::fromLatin1(modal->metaObject()->className());
    record.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      record.text = box->text();
      record.icon = box->icon();
      for (QAbstractButton* button : box->buttons()) record.buttons << button->text();
    }
    seen = record;
    poll.stop();
    if (close) {
      close(*modal);
    } else {
      QTest::keyClick(modal, Qt::Key_Return);
    }
  });
  poll.start();
  action();
  return seen;
}

bool CanCapture() {
  const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qSleep(5);
  }
  return true;
}

bool InChild() { return qEnvironmentVariableIsSet(kChildEnv); }

ChildResult RunTestInChild(const QString& testName, const QStringList& wrapper) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QString::fromLatin1(kChildEnv), QStringLiteral("1"));
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  QStringList arguments = wrapper;
  arguments << QCoreApplication::applicationFilePath() << QStringLiteral("--gtest_filter=") + testName;
  const QString program = arguments.takeFirst();
  process.start(program, arguments);
  ChildResult result;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
  }
  result.normalExit = process.exitStatus() == QProcess::NormalExit;
  result.exitCode = process.exitCode();
  result.output = QString::fromUtf8(process.readAll());
  return result;
}

void ReportToParent(const QString& key, const QString& value) {
  std::printf("@@%s=%s\n", key.toUtf8().constData(), value.toUtf8().toHex().constData());
  std::fflush(stdout);
}

QString ReportedValue(const ChildResult& result, const QString& key) {
  const QString marker = QStringLiteral("@@") + key + QLatin1Char('=');
  for (const QString& line : result.output.split(QLatin1Char('\n'))) {
    if (line.startsWith(marker)) return QString::fromUtf8(QByteArray::fromHex(line.mid(marker.size()).toLatin1()));
  }
  return {};
}

}  // namespace orvanel::test
