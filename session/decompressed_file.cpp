#include "session/decompressed_file.h"

#include <cerrno>
#include <cstring>

namespace orvanel {
namespace {

constexpr std::size_t kInputBytes = std::size_t{64} * 1024;

}  // namespace

std::unique_ptr<DecompressedFile> DecompressedFile::Open(std::FILE* file) {
  std::uint8_t start[kMagicBytes];
  const std::size_t got = std::fread(start, 1, sizeof start, file);
  // Put back, so that a pipe is read from its start as well: glibc takes back
  // as many bytes as were read.
  for (std::size_t i = got; i > 0; --i) std::ungetc(start[i - 1], file);
  std::clearerr(file);
  std::unique_ptr<StreamDecoder> decoder = DecoderForMagic({start, got});
  if (!decoder) return nullptr;
  return std::unique_ptr<DecompressedFile>(new DecompressedFile(file, std::move(decoder)));
}

DecompressedFile::DecompressedFile(std::FILE* file, std::unique_ptr<StreamDecoder> decoder)
    : file_(file), decoder_(std::move(decoder)), input_(new std::uint8_t[kInputBytes]) {}

DecompressedFile::~DecompressedFile() { std::fclose(file_); }

std::FILE* DecompressedFile::Release() {
  const cookie_io_functions_t functions{
      .read = [](void* self, char* buffer, std::size_t size) -> ssize_t {
        return static_cast<DecompressedFile*>(self)->Read(buffer, size);
      },
      .write = nullptr,
      .seek = nullptr,
      .close =
          [](void* self) {
            delete static_cast<DecompressedFile*>(self);
            return 0;
          },
  };
  return fopencookie(this, "rb", functions);
}

std::uint64_t DecompressedFile::BytesRead() const {
  const long position = std::ftell(file_);
  return position < 0 ? 0 : static_cast<std::uint64_t>(position);
}

// At least one byte, or 0 at the end of the data (cut short or not), or -1
// for damaged data or a failed read.
std::ptrdiff_t DecompressedFile::Read(char* buffer, std::size_t size) {
  if (!error_.empty()) {
    errno = EIO;
    return -1;
  }
  std::span<std::uint8_t> output(reinterpret_cast<std::uint8_t*>(buffer), size);
  while (true) {
    if (inputStart_ == inputEnd_ && !inputEnded_) {
      inputStart_ = 0;
      inputEnd_ = std::fread(input_.get(), 1, kInputBytes, file_);
      if (inputEnd_ == 0 && std::ferror(file_)) {
        error_ = std::strerror(errno);
        return -1;
      }
      inputEnded_ = inputEnd_ == 0;
    }
    const StreamDecoder::Step step =
        decoder_->Run({input_.get() + inputStart_, inputEnd_ - inputStart_}, output, inputEnded_);
    inputStart_ += step.consumed;
    if (!step.error.empty()) {
      error_ = step.error;
      if (step.produced > 0) return static_cast<std::ptrdiff_t>(step.produced);
      errno = EIO;
      return -1;
    }
    if (step.produced > 0) return static_cast<std::ptrdiff_t>(step.produced);
    if (inputEnded_) {
      cutShort_ = !step.complete;
      return 0;
    }
    // Neither input taken nor output made with input at hand: the decoder is stuck.
    if (step.consumed == 0 && inputStart_ < inputEnd_) {
      error_ = "compressed data is corrupt";
      errno = EIO;
      return -1;
    }
  }
}

}  // namespace orvanel
