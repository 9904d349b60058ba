#include "capture_fixture.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace orvanel::test {

CaptureFixture::CaptureFixture() {
  TickEveryBox(options);
  std::string pattern = (std::filesystem::temp_directory_path() / "orvanel-net-XXXXXX").string();
  if (mkdtemp(pattern.data())) dumpDirectory = pattern;
  session = std::make_unique<CaptureSession>(counters, options, table, dumpDirectory.string());
}

CaptureFixture::~CaptureFixture() {
  session.reset();
  std::error_code ignored;
  if (!dumpDirectory.empty()) std::filesystem::remove_all(dumpDirectory, ignored);
}

std::string CaptureFixture::DumpFile(const char* name) const {
  std::ifstream file(dumpDirectory / name, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace orvanel::test
