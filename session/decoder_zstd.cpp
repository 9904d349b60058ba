#include <zstd.h>

#include "session/stream_decoder.h"

namespace orvanel {
namespace {

// libzstd's default window limit (128 MiB) bounds its memory.
class ZstdDecoder final : public StreamDecoder {
 public:
  ZstdDecoder() : stream_(ZSTD_createDStream()) {}
  ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }
  [[nodiscard]] bool Ready() const { return stream_ != nullptr; }

  Step Run(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, bool) override {
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    ZSTD_outBuffer out{output.data(), output.size(), 0};
    const std::size_t hint = ZSTD_decompressStream(stream_, &out, &in);
    Step step{in.pos, out.pos, false, {}};
    if (ZSTD_isError(hint)) {
      step.error = std::string("zstd: ") + ZSTD_getErrorName(hint);
      return step;
    }
    // 0: a frame ended and all of it was written out. Frames follow one another.
    if (in.pos > 0 || out.pos > 0) complete_ = hint == 0;
    step.complete = complete_;
    return step;
  }

 private:
  ZSTD_DStream* stream_;
  bool complete_ = false;
};

}  // namespace

std::unique_ptr<StreamDecoder> MakeZstdDecoder() {
  auto decoder = std::make_unique<ZstdDecoder>();
  return decoder->Ready() ? std::move(decoder) : nullptr;
}

}  // namespace orvanel
