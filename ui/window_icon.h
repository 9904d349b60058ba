// The program icon, drawn from its SVG at whatever size and pixel density a
// screen asks for; it names the four sizes of the icon resource.
#pragma once

#include <QIcon>

namespace orvanel {

QIcon ProgramIcon();

}  // namespace orvanel
