// The streaming decoders of the compressed capture files we read: gzip
// (zlib), zstd (libzstd), lz4 frames (liblz4) and xz (liblzma). Each goes on
// through concatenated streams, as their command-line tools do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace orvanel {

class StreamDecoder {
 public:
  struct Step {
    std::size_t consumed = 0;
    std::size_t produced = 0;
    // The last stream seen so far is complete: nothing is cut short if the input ends here.
    bool complete = false;
    std::string error;  // the library's reason when the data is damaged
  };

  virtual ~StreamDecoder() = default;
  // Decodes what it can of input into output; last says no input follows.
  virtual Step Run(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, bool last) = 0;
};

// The decoder a file's first bytes call for, or null for an uncompressed
// file (or a decoder the library could not make).
std::unique_ptr<StreamDecoder> DecoderForMagic(std::span<const std::uint8_t> start);
// How many first bytes DecoderForMagic needs at most.
constexpr std::size_t kMagicBytes = 6;

std::unique_ptr<StreamDecoder> MakeGzipDecoder();
std::unique_ptr<StreamDecoder> MakeZstdDecoder();
std::unique_ptr<StreamDecoder> MakeLz4Decoder();
std::unique_ptr<StreamDecoder> MakeXzDecoder();

}  // namespace orvanel
