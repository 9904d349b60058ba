#include "capture/packet_decode.h"

#include <algorithm>
#include <cstring>

namespace orvanel {

std::string_view PayloadText(std::span<const std::uint8_t> datagram, std::size_t offset) {
  if (offset >= datagram.size()) return {};
  const auto* begin = reinterpret_cast<const char*>(datagram.data()) + offset;
  const std::size_t available = datagram.size() - offset;
  const void* zero = std::memchr(begin, 0, available);
  return {begin, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - begin) : available};
}

}  // namespace orvanel
