#include "storage/replacing_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace orvanel {

ReplacingFile::ReplacingFile(std::string target, mode_t mode)
    : target_(std::move(target)), temporary_(target_ + ".XXXXXX") {
  fd_ = mkstemp(temporary_.data());
  if (fd_ < 0) {
    Fail(errno);
    temporary_.clear();
    return;
  }
  // mkstemp makes it 0600 and the umask does not narrow fchmod.
  if (fchmod(fd_, mode) != 0) {
    Fail(errno);
    Discard();
    return;
  }
  stream_ = fopencookie(this, "wb", {.read = nullptr, .write = WriteToFile, .seek = nullptr, .close = CloseFile});
  if (!stream_) {
    Fail(errno);
    Discard();
  }
}

ReplacingFile::~ReplacingFile() { Discard(); }

ssize_t ReplacingFile::WriteToFile(void* self, const char* data, std::size_t length) {
  auto& file = *static_cast<ReplacingFile*>(self);
  for (std::size_t done = 0; done < length;) {
    const ssize_t written = write(file.fd_, data + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      file.Fail(written < 0 ? errno : EIO);
      return -1;
    }
    done += static_cast<std::size_t>(written);
  }
  return static_cast<ssize_t>(length);
}

int ReplacingFile::CloseFile(void* self) { return close(std::exchange(static_cast<ReplacingFile*>(self)->fd_, -1)); }

std::optional<std::string> ReplacingFile::Commit() {
  if (!stream_) return error_;
  // Every step is taken so that the stream is closed; the first failure is
  // the one told, a write's before the flush's that repeats it.
  if (std::fflush(stream_) != 0) Fail(errno);
  if (std::ferror(stream_) != 0) Fail(EIO);  // a failure stdio kept no errno for
  if (errorNumber_ == 0 && fsync(fd_) != 0) Fail(errno);
  if (std::fclose(std::exchange(stream_, nullptr)) != 0) Fail(errno);
  if (errorNumber_ == 0 && std::rename(temporary_.c_str(), target_.c_str()) != 0) Fail(errno);
  if (errorNumber_ == 0) {
    temporary_.clear();
    return std::nullopt;
  }
  Discard();
  return error_;
}

// The first failure is the cause; what fails after it follows from it.
void ReplacingFile::Fail(int error) {
  if (errorNumber_ != 0) return;
  errorNumber_ = error;
  error_ = std::strerror(error);
}

void ReplacingFile::Discard() {
  if (stream_) std::fclose(std::exchange(stream_, nullptr));
  if (fd_ >= 0) close(std::exchange(fd_, -1));
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace orvanel
