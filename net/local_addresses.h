// The machine's own IPv4 addresses, in the order the address combo box and
// the capture start use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanel {

struct LocalAddress {
  std::string text;  // dotted
  unsigned interfaceIndex;
  bool loopback;
};

// Addresses of the interfaces that are up: non-loopback ones first in
// interface order, loopback ones last. Empty when there are none; nothing
// when the list cannot be read.
std::optional<std::vector<LocalAddress>> QueryLocalAddresses();

// The same list as dotted texts.
std::optional<std::vector<std::string>> LocalAddressTexts();

// Whether address (dotted) is in that list: on an interface that is up.
bool IsLocalAddress(const std::string& address);

// The same list as addresses (octets in header order); empty when it cannot be read.
std::vector<std::uint32_t> LocalAddressValues();

}  // namespace orvanel
