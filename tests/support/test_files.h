// Files for tests: a scratch directory of their own and whole-file reads.
#pragma once

#include <filesystem>
#include <string>

namespace orvanel::test {

// A fresh directory under the temporary directory, removed with all it holds.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& prefix = "orvanel-test");
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Empty when the directory could not be made.
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Whole contents of a file; empty when it cannot be read.
std::string FileContents(const std::filesystem::path& path);

}  // namespace orvanel::test
