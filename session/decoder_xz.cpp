#include <lzma.h>

#include "session/stream_decoder.h"

namespace orvanel {
namespace {

// Enough for any preset of xz (-9e needs 674 MiB to compress, 65 MiB to decompress).
constexpr std::uint64_t kMemoryLimit = std::uint64_t{256} << 20;

std::string Reason(lzma_ret status) {
  switch (status) {
    case LZMA_MEMLIMIT_ERROR: return "xz: needs more memory than allowed";
    case LZMA_MEM_ERROR: return "xz: out of memory";
    case LZMA_FORMAT_ERROR: return "xz: not in the .xz format";
    case LZMA_OPTIONS_ERROR: return "xz: unsupported options";
    default: return "xz: compressed data is corrupt";
  }
}

class XzDecoder final : public StreamDecoder {
 public:
  ~XzDecoder() override { lzma_end(&stream_); }
  bool Init() { return lzma_stream_decoder(&stream_, kMemoryLimit, LZMA_CONCATENATED) == LZMA_OK; }

  Step Run(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, bool last) override {
    stream_.next_in = input.data();
    stream_.avail_in = input.size();
    stream_.next_out = output.data();
    stream_.avail_out = output.size();
    // Concatenated streams end only when told that no input follows.
    const lzma_ret status = lzma_code(&stream_, last ? LZMA_FINISH : LZMA_RUN);
    Step step{input.size() - stream_.avail_in, output.size() - stream_.avail_out, status == LZMA_STREAM_END, {}};
    if (status != LZMA_OK && status != LZMA_STREAM_END && status != LZMA_BUF_ERROR) step.error = Reason(status);
    return step;
  }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace

std::unique_ptr<StreamDecoder> MakeXzDecoder() {
  auto decoder = std::make_unique<XzDecoder>();
  return decoder->Init() ? std::move(decoder) : nullptr;
}

}  // namespace orvanel
