#include "ui/desktop_session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvanel {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

bool PlatformArgument(int argc, char** argv) {
  for (int index = 1; index < argc; ++index) {
    if (std::strcmp(argv[index], "-platform") == 0 || std::strcmp(argv[index], "--platform") == 0) return true;
  }
  return false;
}

}  // namespace

bool PrepareDesktopSession(int argc, char** argv) {
  if (IsSet("QT_QPA_PLATFORM") || PlatformArgument(argc, argv) || IsSet("DISPLAY")) return true;
  if (IsSet("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "wayland", 1);
    return true;
  }
  std::fputs(
      "orvanel: the dialog needs a desktop session, and neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
      "orvanel: to capture without a desktop, use orvanel-cli (orvanel-cli --help).\n",
      stderr);
  return false;
}

}  // namespace orvanel
