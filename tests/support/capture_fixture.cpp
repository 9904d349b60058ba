#include "capture_fixture.h"

namespace orvanel::test {

CaptureFixture::CaptureFixture() {
  TickEveryBox(options);
  session = std::make_unique<CaptureSession>(counters, options, table, dumpDirectory.string());
}

}  // namespace orvanel::test
