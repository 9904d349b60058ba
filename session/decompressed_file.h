// A capture file's stream as libpcap should read it: the file itself, or for
// a gzip, zstd, lz4 or xz file a stream of its decompressed bytes, decoded as
// they are read (nothing is unpacked to disk or held whole).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "session/stream_decoder.h"

namespace orvanel {

class DecompressedFile {
 public:
  // Takes file, read from its start. Null when it is not compressed; then
  // the bytes looked at are back in file, to be read again.
  static std::unique_ptr<DecompressedFile> Open(std::FILE* file);
  ~DecompressedFile();
  DecompressedFile(const DecompressedFile&) = delete;
  DecompressedFile& operator=(const DecompressedFile&) = delete;

  // The stream of decompressed bytes, for libpcap to take; closing it frees
  // this object and closes the file. Called once.
  std::FILE* Release();

  // Compressed bytes read so far.
  [[nodiscard]] std::uint64_t BytesRead() const;
  // The compressed data ended within a stream.
  [[nodiscard]] bool CutShort() const { return cutShort_; }
  // Why the data could not be decoded; empty when it could.
  [[nodiscard]] const std::string& Error() const { return error_; }

 private:
  DecompressedFile(std::FILE* file, std::unique_ptr<StreamDecoder> decoder);
  std::ptrdiff_t Read(char* buffer, std::size_t size);

  std::FILE* file_;
  std::unique_ptr<StreamDecoder> decoder_;
  std::unique_ptr<std::uint8_t[]> input_;
  std::size_t inputStart_ = 0;
  std::size_t inputEnd_ = 0;
  bool inputEnded_ = false;
  bool cutShort_ = false;
  std::string error_;
};

}  // namespace orvanel
