#include "tools/allow_list.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <string>

namespace orvanel::cli {
namespace {

// An IPv4 address written in IPv6 form: ten zero bytes, then two 0xff.
bool IsMappedIpv4(const std::uint8_t* bytes) {
  for (int i = 0; i < 10; ++i) {
    if (bytes[i] != 0) return false;
  }
  return bytes[10] == 0xff && bytes[11] == 0xff;
}

}  // namespace

std::optional<AllowList> AllowList::Parse(std::string_view text) {
  AllowList list;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view item = text.substr(start, comma - start);
    start = comma + 1;
    const std::size_t slash = item.find('/');
    const std::string address(item.substr(0, slash));
    Prefix prefix;
    if (inet_pton(AF_INET, address.c_str(), prefix.bytes.data()) == 1) {
      prefix.length = 4;
    } else if (inet_pton(AF_INET6, address.c_str(), prefix.bytes.data()) == 1) {
      prefix.length = 16;
    } else {
      return std::nullopt;
    }
    prefix.bits = prefix.length * 8;
    if (slash != std::string_view::npos) {
      const std::string_view bits = item.substr(slash + 1);
      const auto [end, error] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix.bits);
      if (bits.empty() || error != std::errc() || end != bits.data() + bits.size() || prefix.bits < 0 ||
          prefix.bits > prefix.length * 8) {
        return std::nullopt;
      }
    }
    list.prefixes_.push_back(prefix);
  }
  return list;
}

bool AllowList::Matches(const Prefix& prefix, const std::uint8_t* bytes, int length) {
  if (prefix.length != length) return false;
  const int whole = prefix.bits / 8, rest = prefix.bits % 8;
  for (int i = 0; i < whole; ++i) {
    if (prefix.bytes[i] != bytes[i]) return false;
  }
  const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
  return rest == 0 || (prefix.bytes[whole] & mask) == (bytes[whole] & mask);
}

bool AllowList::Allows(const sockaddr* address) const {
  const std::uint8_t* bytes = nullptr;
  int length = 0;
  if (address->sa_family == AF_INET) {
    bytes = reinterpret_cast<const std::uint8_t*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    length = 4;
  } else if (address->sa_family == AF_INET6) {
    bytes = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr;
    length = 16;
    if (IsMappedIpv4(bytes)) {
      bytes += 12;
      length = 4;
    }
  }
  for (const Prefix& prefix : prefixes_) {
    if (Matches(prefix, bytes, length)) return true;
  }
  return false;
}

}  // namespace orvanel::cli
