#include "tests/support/test_files.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace orvanel::test {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  if (path_.empty()) return;
  std::error_code ignored;
  // A test may have taken its own rights to the directory away.
  fs::permissions(path_, fs::perms::owner_all, ignored);
  fs::remove_all(path_, ignored);
}

std::string FileContents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace orvanel::test
