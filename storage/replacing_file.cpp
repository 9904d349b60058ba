#include "storage/replacing_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvanel {

ReplacingFile::ReplacingFile(std::string target, mode_t mode)
    : target_(std::move(target)), temporary_(target_ + ".XXXXXX") {
  const int fd = mkstemp(temporary_.data());
  if (fd < 0) {
    Fail(errno);
    temporary_.clear();
    return;
  }
  // mkstemp makes it 0600 and the umask does not narrow fchmod.
  if (fchmod(fd, mode) != 0 || !(stream_ = fdopen(fd, "wb"))) {
    Fail(errno);
    close(fd);
    Discard();
  }
}

ReplacingFile::~ReplacingFile() { Discard(); }

std::optional<std::string> ReplacingFile::Commit() {
  if (!stream_) return error_;
  errno = EIO;  // fwrite does not always say why
  bool done = std::ferror(stream_) == 0 && std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
  int error = errno;
  if (std::fclose(stream_) != 0 && done) done = false, error = errno;
  stream_ = nullptr;
  if (done && std::rename(temporary_.c_str(), target_.c_str()) != 0) done = false, error = errno;
  if (done) {
    temporary_.clear();
    return std::nullopt;
  }
  Fail(error);
  Discard();
  return error_;
}

void ReplacingFile::Fail(int error) {
  errorNumber_ = error;
  error_ = std::strerror(error);
}

void ReplacingFile::Discard() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace orvanel
