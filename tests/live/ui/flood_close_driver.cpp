// Linked with the program's own main(): drives its dialog through a capture of
// a loopback flood and closes it while the flood goes on. The program then
// ends by its normal path, which the parent test watches and times.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <limits>
#include <memory>

#include "res/resource.h"
#include "tests/support/loopback_flow.h"
#include "tests/support/ui_test_support.h"
#include "ui/capture_dlg.h"

namespace orvanel {
namespace {

using namespace std::chrono_literals;

constexpr int kRowsBeforeClose = 1000;

// A child of the application: its flood goes on through the dialog's close and
// the end of the modal run, and is stopped only as the application goes.
class FloodCloseDriver final : public QObject {
 public:
  explicit FloodCloseDriver(QObject* application) : QObject(application) {
    connect(&poll_, &QTimer::timeout, this, &FloodCloseDriver::Step);
    poll_.start(10);
  }

 private:
  void Step() {
    auto* dialog = qobject_cast<CCaptureDlg*>(QApplication::activeModalWidget());
    if (!dialog) return;
    if (!flood_) {
      Start(*dialog);
      return;
    }
    const int rows = test::Rows(*dialog);
    if (rows < kRowsBeforeClose && flood_->Flowing() && dialog->IsCapturing()) return;
    poll_.stop();
    test::ReportToParent(QStringLiteral("rows"), QString::number(rows));
    test::ReportToParent(QStringLiteral("flowing"), flood_->Flowing() ? QStringLiteral("yes") : QStringLiteral("no"));
    test::ReportToParent(QStringLiteral("closing"), QStringLiteral("now"));
    dialog->close();
  }

  void Start(CCaptureDlg& dialog) {
    const bool chosen = test::ChooseAddress(dialog, QStringLiteral("127.0.0.1"));
    static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_SRC_UDP))->setChecked(true);
    static_cast<QCheckBox*>(dialog.GetDlgItem(res::IDC_CHK_DST_UDP))->setChecked(true);
    static_cast<QPushButton*>(dialog.GetDlgItem(res::IDC_BTN_START))->click();
    test::ReportToParent(QStringLiteral("capturing"),
                         chosen && dialog.IsCapturing() ? QStringLiteral("yes") : QStringLiteral("no"));
    // Unpaced: as fast as this thread can send, bounded by time alone, so a
    // fast sender is still flowing when the rows are there.
    flood_ = std::make_unique<test::LoopbackFlow>("flood", 0us, std::numeric_limits<int>::max(), 30s);
  }

  QTimer poll_;
  std::unique_ptr<test::LoopbackFlow> flood_;
};

// Called as the application is made; the driver starts once the event loop
// (the dialog's modal run) does.
void MakeDriver() {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { new FloodCloseDriver(QCoreApplication::instance()); }, Qt::QueuedConnection);
}

Q_COREAPP_STARTUP_FUNCTION(MakeDriver)

}  // namespace
}  // namespace orvanel
