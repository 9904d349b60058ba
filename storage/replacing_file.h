// A file that replaces another only once it is whole. It is written under a
// name of its own, made new beside the target (mkstemp: never through a
// planted link, never into an existing file), then synced and renamed over
// the target. Until then the target keeps what it had; readers see the old
// file or the whole new one. The new file has the mode asked for, whatever
// the target had.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>

namespace orvanel {

class ReplacingFile {
 public:
  // Creates the file beside target with exactly mode; on failure Stream() is
  // null and Error() says why.
  ReplacingFile(std::string target, mode_t mode);
  ~ReplacingFile();  // removes the file when it was not committed
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Where to write; null when the file could not be made. Its writes keep
  // the errno of the first that fails, which stdio forgets.
  std::FILE* Stream() const { return stream_; }

  // Flushes, syncs and closes the file, then renames it over the target.
  // Returns why the first step or write failed (the file is removed then),
  // or nothing.
  std::optional<std::string> Commit();

  [[nodiscard]] const std::string& Error() const { return error_; }
  // The errno behind Error(), for callers that word the reason themselves.
  [[nodiscard]] int ErrorNumber() const { return errorNumber_; }

 private:
  static ssize_t WriteToFile(void* self, const char* data, std::size_t length);
  static int CloseFile(void* self);
  void Fail(int error);
  void Discard();

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  std::string error_;
  int errorNumber_ = 0;
};

}  // namespace orvanel
