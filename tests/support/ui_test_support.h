// Helpers for driving the dialog headless: modal boxes, waiting, child runs.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace orvanel {
class CCaptureDlg;
}

namespace orvanel::test {

// Picks the address in the dialog's list; false when it is not offered.
bool ChooseAddress(CCaptureDlg& dialog, const QString& address);
// Rows in the dialog's packet table.
int Rows(CCaptureDlg& dialog);

struct SeenModal {
  QString className;
  QString title;
  QString text;  // a message box's text
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
};

// Runs action; the first modal window that opens meanwhile is recorded, then
// handled by close (default: Enter, which presses its default button).
std::optional<SeenModal> RunExpectingModal(const std::function<void()>& action,
                                           const std::function<void(QWidget&)>& close = {});

// Whether this process may open a capture socket (root or CAP_NET_RAW). Tests
// that press Start or make network namespaces need it.
bool CanCapture();

// Processes events until done() or the timeout; returns done(). The timeout
// is a bound against a hang, never a timing, so it is generous.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000);

// Child runs: the test binary runs one of its own tests in a new process,
// optionally under a wrapper command (unshare, setpriv).
inline constexpr const char* kChildEnv = "ORVANEL_UI_TEST_CHILD";
bool InChild();

struct ChildResult {
  int exitCode = -1;
  bool normalExit = false;
  QString output;  // stdout and stderr
};
ChildResult RunTestInChild(const QString& testName, const QStringList& wrapper = {});

// In a child: writes a line the parent looks for.
void ReportToParent(const QString& key, const QString& value);
// The value a child reported under key, or null.
QString ReportedValue(const ChildResult& result, const QString& key);

}  // namespace orvanel::test
