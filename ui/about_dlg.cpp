#include "ui/about_dlg.h"

#include <QPushButton>

#include "res/resource.h"
#include "ui/dialog_builder.h"

namespace orvanel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const DialogControls controls = BuildDialog(*this, res::AboutDialogTemplate());
  connect(static_cast<QPushButton*>(controls.Item(res::IDOK)), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace orvanel
