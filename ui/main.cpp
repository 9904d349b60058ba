#include "ui/capture_app.h"
#include "ui/desktop_session.h"

int main(int argc, char** argv) {
  if (!orvanel::PrepareDesktopSession(argc, argv)) return 1;
  orvanel::CCaptureApp app(argc, argv);
  return app.InitInstance();
}
