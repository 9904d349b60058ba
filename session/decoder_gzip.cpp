#include <zlib.h>

#include "session/stream_decoder.h"

namespace orvanel {
namespace {

class GzipDecoder final : public StreamDecoder {
 public:
  GzipDecoder() = default;
  ~GzipDecoder() override {
    if (ready_) inflateEnd(&stream_);
  }
  bool Init() { return ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK; }

  Step Run(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, bool) override {
    Step step;
    // A member follows the last one whole: gzip reads them as one stream.
    if (complete_ && !input.empty()) {
      inflateReset(&stream_);
      complete_ = false;
    }
    stream_.next_in = const_cast<Bytef*>(input.data());  // zlib's interface is not const
    stream_.avail_in = static_cast<uInt>(input.size());
    stream_.next_out = output.data();
    stream_.avail_out = static_cast<uInt>(output.size());
    const int status = inflate(&stream_, Z_NO_FLUSH);
    step.consumed = input.size() - stream_.avail_in;
    step.produced = output.size() - stream_.avail_out;
    if (status == Z_STREAM_END) complete_ = true;
    if (status == Z_DATA_ERROR || status == Z_NEED_DICT || status == Z_MEM_ERROR || status == Z_STREAM_ERROR) {
      step.error = std::string("gzip: ") + (stream_.msg ? stream_.msg : "damaged data");
    }
    step.complete = complete_;
    return step;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  bool complete_ = false;
};

}  // namespace

std::unique_ptr<StreamDecoder> MakeGzipDecoder() {
  auto decoder = std::make_unique<GzipDecoder>();
  return decoder->Init() ? std::move(decoder) : nullptr;
}

}  // namespace orvanel
