// Any bytes through the details window's decoder, its texts and the dump: every
// field has a label and a value in valid UTF-8, and the dump gives back exactly
// the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/datagram_details.h"
#include "ui/details_texts.h"

namespace {

using namespace orvanel;

bool ValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || length > text.size() - at) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

void CheckField(const FieldText& field) {
  if (field.label.empty() || field.value.empty() || !ValidUtf8(field.label) || !ValidUtf8(field.value)) std::abort();
  for (const FieldText& part : field.parts) CheckField(part);
}

int HexDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; }

// Reads the dump back: offsets in order, hex bytes equal to the input, the text column beside them.
void CheckDump(const std::string& dump, std::span<const std::uint8_t> bytes) {
  const std::size_t digits = bytes.size() > 0x10000 ? 8 : 4;
  // The offset, two spaces, 16 bytes, a space between the halves and one before the text.
  const std::size_t lineLength = digits + 2 + 16 * 3 + 2;
  std::size_t at = 0;
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    const std::size_t end = dump.find('\n', at);
    if (end == std::string::npos) std::abort();
    const std::string_view text(dump.data() + at, end - at);
    const std::size_t count = std::min<std::size_t>(16, bytes.size() - line);
    if (text.size() != lineLength + count) std::abort();
    if (std::stoul(std::string(text.substr(0, digits)), nullptr, 16) != line) std::abort();
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t hex = digits + 2 + i * 3 + (i >= 8 ? 1 : 0);
      const int value = HexDigit(text[hex]) * 16 + HexDigit(text[hex + 1]);
      const std::uint8_t byte = bytes[line + i];
      const char shown = byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
      if (value != byte || text[lineLength + i] != shown) std::abort();
    }
    at = end + 1;
  }
  if (at != dump.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::vector<DetailLayer> layers = DescribeDatagram(bytes);
  if (layers.empty() || layers.front().id != DetailLayerId::Ipv4) std::abort();
  for (const LayerText& layer : DetailTexts(layers)) {
    if (!ValidUtf8(layer.title)) std::abort();
    for (const FieldText& field : layer.fields) CheckField(field);
  }
  CheckDump(HexDump(bytes), bytes);
  return 0;
}
