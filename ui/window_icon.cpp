#include "window_icon.h"

namespace orvanel {

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addFile(QStringLiteral(":/orvanel/icons/orvanel-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace orvanel
