#include "about_dlg.h"

#include <QPushButton>

#include "dialog_builder.h"
#include "res/resource.h"

namespace orvanel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const DialogControls controls = BuildDialog(*this, res::AboutDialogTemplate());
  connect(static_cast<QPushButton*>(controls.Item(res::IDOK)), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace orvanel
