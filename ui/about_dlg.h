// The About box.
#pragma once

#include <QDialog>

namespace orvanel {

class CAboutDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace orvanel
