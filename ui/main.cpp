#include "capture_app.h"

int main(int argc, char** argv) {
  orvanel::CCaptureApp app(argc, argv);
  return app.InitInstance();
}
