// The dialog needs a desktop session; without one Qt would abort.
#pragma once

namespace orvanel {

// Before the application object exists: true to go on. Without DISPLAY or
// WAYLAND_DISPLAY (and no platform chosen by QT_QPA_PLATFORM or -platform)
// it says so on stderr and returns false. With only WAYLAND_DISPLAY it picks
// Qt's Wayland platform, which Qt would not try by itself. Until
// DesktopSessionOpened, a display that is set but cannot be opened gets the
// same message and ends the process with status 1 instead of Qt's abort.
bool PrepareDesktopSession(int argc, char** argv);

// Once the application object exists: Qt's messages held back while it was
// made go out, and later ones go their usual way.
void DesktopSessionOpened();

}  // namespace orvanel
