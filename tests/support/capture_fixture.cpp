#include "tests/support/capture_fixture.h"

namespace orvanel::test {
namespace {

void TickEveryBox(AtomicCaptureOptions& options) {
  for (int option = 0; option < kCaptureOptionCount; ++option) {
    options.Set(static_cast<CaptureOption>(option), kChecked);
  }
}

}  // namespace

CaptureFixture::CaptureFixture() {
  TickEveryBox(options);
  session = std::make_unique<CaptureSession>(counters, options, table, dumpDirectory.string());
}

}  // namespace orvanel::test
