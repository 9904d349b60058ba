#include "session/stream_decoder.h"

#include <algorithm>
#include <array>

namespace orvanel {
namespace {

struct Magic {
  std::array<std::uint8_t, kMagicBytes> bytes;
  std::size_t length;
  std::unique_ptr<StreamDecoder> (*make)();
};

constexpr Magic kMagics[] = {
    {{0x1f, 0x8b}, 2, MakeGzipDecoder},
    {{0x28, 0xb5, 0x2f, 0xfd}, 4, MakeZstdDecoder},
    {{0x04, 0x22, 0x4d, 0x18}, 4, MakeLz4Decoder},
    {{0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00}, 6, MakeXzDecoder},
};

}  // namespace

std::unique_ptr<StreamDecoder> DecoderForMagic(std::span<const std::uint8_t> start) {
  for (const Magic& magic : kMagics) {
    if (start.size() >= magic.length &&
        std::equal(magic.bytes.begin(), magic.bytes.begin() + magic.length, start.begin())) {
      return magic.make();
    }
  }
  return nullptr;
}

}  // namespace orvanel
