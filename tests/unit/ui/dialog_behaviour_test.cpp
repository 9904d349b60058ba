#include <gtest/gtest.h>

#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "res/resource.h"
#include "tests/support/ui_test_support.h"
#include "ui/capture_dlg.h"

namespace orvanel {
namespace {

using test::RunExpectingModal;

// 192.0.2.0/24 is documentation space: never an address of this machine.
HostQueries FakeHost() {
  return {[] { return std::optional<std::string>("host"); },
          [] {
            return std::optional<std::vector<std::string>>(
                std::vector<std::string>{"192.0.2.1", "192.0.2.15", "127.0.0.1"});
          }};
}

QString Text(CCaptureDlg& dialog, int id) { return static_cast<QLineEdit*>(dialog.GetDlgItem(id))->text(); }
QCheckBox* Box(CCaptureDlg& dialog, int id) { return static_cast<QCheckBox*>(dialog.GetDlgItem(id)); }
QPushButton* Button(CCaptureDlg& dialog, int id) { return static_cast<QPushButton*>(dialog.GetDlgItem(id)); }

TEST(DialogBehaviour, InitialState) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  for (int id = res::IDC_CHK_OTHER; id <= res::IDC_CHK_SAVE_LAST; ++id) {
    const bool enable = id == res::IDC_CHK_OTHER || id == res::IDC_CHK_SRC_IP || id == res::IDC_CHK_DST_IP;
    EXPECT_EQ(Box(dialog, id)->isChecked(), enable) << id;
  }
  auto* combo = static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE));
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(0), QStringLiteral("192.0.2.1"));
  EXPECT_EQ(combo->itemText(1), QStringLiteral("192.0.2.15"));
  EXPECT_EQ(combo->itemText(2), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(combo->currentIndex(), -1);
  EXPECT_EQ(Text(dialog, res::IDC_SRC_IP), QStringLiteral("192.0.2.1"));
  EXPECT_EQ(Text(dialog, res::IDC_DST_IP), QStringLiteral("192.0.2.1"));
  for (int id : {1002, 1003, 1004, 1005, 1007, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1019, 1020, 1021, 1022}) {
    EXPECT_EQ(Text(dialog, id), QStringLiteral("0")) << id;
  }
  EXPECT_EQ(dialog.focusWidget(), dialog.GetDlgItem(res::IDC_BTN_START));
  EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("开始嗅探"));
  EXPECT_FALSE(dialog.windowIcon().isNull());
  EXPECT_EQ(dialog.windowIcon().availableSizes().size(), 4);
}

TEST(DialogBehaviour, CountersCannotBeTypedIntoButCanBeSelected) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  auto* counter = static_cast<QLineEdit*>(dialog.GetDlgItem(res::IDC_ALL_TCP));
  counter->setFocus();
  QTest::keyClicks(counter, "123");
  EXPECT_EQ(counter->text(), QStringLiteral("0"));
  counter->selectAll();
  EXPECT_EQ(counter->selectedText(), QStringLiteral("0"));
  auto* other = Box(dialog, res::IDC_CHK_SRC_OTHER);
  QTest::mouseClick(other, Qt::LeftButton);
  EXPECT_FALSE(other->isChecked());
}

TEST(DialogBehaviour, ChoosingAnAddressOverwritesBothFilters) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  auto* source = static_cast<QLineEdit*>(dialog.GetDlgItem(res::IDC_SRC_IP));
  source->setText(QStringLiteral("10."));
  auto* combo = static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE));
  combo->setCurrentIndex(1);
  EXPECT_EQ(Text(dialog, res::IDC_SRC_IP), QStringLiteral("192.0.2.15"));
  EXPECT_EQ(Text(dialog, res::IDC_DST_IP), QStringLiteral("192.0.2.15"));
}

int OpenDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size()); }

TEST(DialogBehaviour, StartWithoutAChosenAddressAsksForOneAndStaysIdle) {
  if (!test::CanCapture()) GTEST_SKIP() << "Start needs the right to capture (run as root)";
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  int descriptors = 0;  // counted after the first box: Qt opens some for good then
  const auto press = [&] { QTest::mouseClick(Button(dialog, res::IDC_BTN_START), Qt::LeftButton); };
  for (int attempt = 0; attempt < 4; ++attempt) {
    // First nothing is chosen, then an address that is not this machine's.
    if (attempt == 2) static_cast<QComboBox*>(dialog.GetDlgItem(res::IDC_CB_DEVICE))->setCurrentIndex(0);
    const auto seen = RunExpectingModal(press);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->text, QStringLiteral("请选择网络设备地址\t\n"));
    EXPECT_EQ(seen->title, QStringLiteral("Orvanel"));
    EXPECT_EQ(seen->icon, QMessageBox::Warning);
    EXPECT_EQ(seen->buttons, QStringList{QStringLiteral("确定")});
    EXPECT_FALSE(dialog.IsCapturing());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Button(dialog, res::IDC_BTN_START)->text(), QStringLiteral("开始嗅探"));
    EXPECT_TRUE(dialog.GetDlgItem(res::IDC_SRC_IP)->isEnabled());
    EXPECT_TRUE(dialog.GetDlgItem(res::IDC_CB_DEVICE)->isEnabled());
    if (attempt == 0) descriptors = OpenDescriptors();
  }
  // The capture socket each press opened is closed again.
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(DialogBehaviour, EnterPressesOnlyAFocusedPushButton) {
  if (!test::CanCapture()) GTEST_SKIP() << "Start needs the right to capture (run as root)";
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  auto* box = Box(dialog, res::IDC_CHK_SRC_TCP);
  for (int id : {res::IDC_CHK_SRC_TCP, res::IDC_SRC_IP, res::IDC_ALL_TCP, res::IDC_LIST_PACKETS, res::IDC_CB_DEVICE}) {
    QWidget* control = dialog.GetDlgItem(id);
    control->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      const auto seen = RunExpectingModal([&] { QTest::keyClick(control, key); });
      EXPECT_FALSE(seen) << id;
      EXPECT_TRUE(dialog.isVisible()) << id;
      EXPECT_EQ(dialog.result(), 0) << id;
    }
  }
  EXPECT_FALSE(box->isChecked());
  // On the Start button Enter presses it: with no address chosen it asks for one.
  QWidget* start = dialog.GetDlgItem(res::IDC_BTN_START);
  start->setFocus();
  const auto seen = RunExpectingModal([&] { QTest::keyClick(start, Qt::Key_Return); });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->text, QStringLiteral("请选择网络设备地址\t\n"));
  EXPECT_TRUE(dialog.isVisible());
}

TEST(DialogBehaviour, EscapeClosesTheDialog) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  dialog.GetDlgItem(res::IDC_SRC_IP)->setFocus();
  QTest::keyClick(dialog.GetDlgItem(res::IDC_SRC_IP), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(DialogBehaviour, AboutFromTheMenuAndF1) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));  // shortcuts need an active window
  QMenu* menu = dialog.GetSystemMenu();
  ASSERT_TRUE(menu);
  const QList<QAction*> actions = menu->actions();
  ASSERT_GE(actions.size(), 2);
  QAction* about = actions.back();
  EXPECT_EQ(about->text(), QStringLiteral("关于 Orvanel(&A)..."));
  EXPECT_EQ(about->data().toInt(), res::IDM_ABOUTBOX);
  const auto fromMenu = RunExpectingModal([&] { about->trigger(); });
  ASSERT_TRUE(fromMenu);
  EXPECT_EQ(fromMenu->className, QStringLiteral("orvanel::CAboutDlg"));
  EXPECT_EQ(fromMenu->title, QStringLiteral("关于 Orvanel"));
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  const auto fromF1 = RunExpectingModal([&] { QTest::keyClick(&dialog, Qt::Key_F1); },
                                        [](QWidget& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  ASSERT_TRUE(fromF1);
  EXPECT_EQ(fromF1->className, QStringLiteral("orvanel::CAboutDlg"));
  EXPECT_TRUE(dialog.isVisible());
}

TEST(DialogBehaviour, MenuEntriesAndTheOneRateGraphWindow) {
  CCaptureDlg dialog(nullptr, FakeHost());
  dialog.show();
  QStringList entries;
  for (QAction* action : dialog.GetSystemMenu()->actions()) entries << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(entries, QStringList({"最小化(&N)", "关闭(&C)", "-", "流量图(&G)...", "保存列表为 pcapng(&S)...",
                                  "关于 Orvanel(&A)..."}));

  QAction* graph = dialog.GetSystemMenu()->actions()[3];
  graph->trigger();
  graph->trigger();
  QList<QWidget*> windows;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == QStringLiteral("流量图")) windows << widget;
  }
  ASSERT_EQ(windows.size(), 1);
  EXPECT_FALSE(windows.front()->isModal());
  EXPECT_EQ(windows.front()->parentWidget(), &dialog);
}

}  // namespace
}  // namespace orvanel
