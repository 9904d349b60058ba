// The dialog needs a desktop session; without one Qt would abort.
#pragma once

namespace orvanel {

// Before the application object exists: true to go on. Without DISPLAY or
// WAYLAND_DISPLAY (and no platform chosen by QT_QPA_PLATFORM or -platform)
// it says so on stderr and returns false. With only WAYLAND_DISPLAY it picks
// Qt's Wayland platform, which Qt would not try by itself.
bool PrepareDesktopSession(int argc, char** argv);

}  // namespace orvanel
