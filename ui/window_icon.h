// The program icon in its four sizes, from the compiled-in resources.
#pragma once

#include <QIcon>

namespace orvanel {

QIcon ProgramIcon();

}  // namespace orvanel
