#include <lz4frame.h>

#include "session/stream_decoder.h"

namespace orvanel {
namespace {

class Lz4Decoder final : public StreamDecoder {
 public:
  Lz4Decoder() {
    if (LZ4F_isError(LZ4F_createDecompressionContext(&context_, LZ4F_VERSION))) context_ = nullptr;
  }
  ~Lz4Decoder() override { LZ4F_freeDecompressionContext(context_); }
  [[nodiscard]] bool Ready() const { return context_ != nullptr; }

  Step Run(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, bool) override {
    std::size_t consumed = input.size();
    std::size_t produced = output.size();
    const std::size_t hint = LZ4F_decompress(context_, output.data(), &produced, input.data(), &consumed, nullptr);
    Step step{consumed, produced, false, {}};
    if (LZ4F_isError(hint)) {
      step.error = std::string("lz4: ") + LZ4F_getErrorName(hint);
      return step;
    }
    // 0: a frame ended and all of it was written out. Frames follow one another.
    if (consumed > 0 || produced > 0) complete_ = hint == 0;
    step.complete = complete_;
    return step;
  }

 private:
  LZ4F_dctx* context_ = nullptr;
  bool complete_ = false;
};

}  // namespace

std::unique_ptr<StreamDecoder> MakeLz4Decoder() {
  auto decoder = std::make_unique<Lz4Decoder>();
  return decoder->Ready() ? std::move(decoder) : nullptr;
}

}  // namespace orvanel
