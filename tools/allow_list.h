// The addresses allowed to reach the metrics endpoint: IPv4 and IPv6 prefixes.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvanel::cli {

class AllowList {
 public:
  // "CIDR[,CIDR...]", each ADDRESS/BITS or a bare ADDRESS; none when any is bad.
  static std::optional<AllowList> Parse(std::string_view text);

  // An IPv4 address seen through an IPv6 socket (::ffff:a.b.c.d) counts as IPv4.
  bool Allows(const sockaddr* address) const;

 private:
  struct Prefix {
    std::array<std::uint8_t, 16> bytes{};  // an IPv4 address in the first four
    int length = 0;                        // bytes compared: 4 or 16
    int bits = 0;
  };
  static bool Matches(const Prefix& prefix, const std::uint8_t* bytes, int length);

  std::vector<Prefix> prefixes_;
};

}  // namespace orvanel::cli
