#include "net/local_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <memory>

#include "capture/address_text.h"

namespace orvanel {
namespace {

// An address label such as "eth0:1" names its interface before the colon;
// interface names themselves never hold one.
unsigned IndexOfLabel(const char* label) {
  std::string name(label);
  name.resize(std::min(name.find(':'), name.size()));
  return if_nametoindex(name.c_str());
}

}  // namespace

std::optional<std::vector<LocalAddress>> QueryLocalAddresses() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return std::nullopt;
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(raw, &freeifaddrs);

  std::vector<LocalAddress> addresses;
  for (const ifaddrs* entry = raw; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (!(entry->ifa_flags & IFF_UP)) continue;
    const unsigned index = IndexOfLabel(entry->ifa_name);
    if (index == 0) continue;  // the interface went away meanwhile
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    addresses.push_back(
        {std::string(AddressText(address->sin_addr.s_addr).View()), index, (entry->ifa_flags & IFF_LOOPBACK) != 0});
  }
  std::stable_sort(addresses.begin(), addresses.end(), [](const LocalAddress& a, const LocalAddress& b) {
    if (a.loopback != b.loopback) return b.loopback;
    return a.interfaceIndex < b.interfaceIndex;
  });
  return addresses;
}

std::optional<std::vector<std::string>> LocalAddressTexts() {
  const auto addresses = QueryLocalAddresses();
  if (!addresses) return std::nullopt;
  std::vector<std::string> texts;
  texts.reserve(addresses->size());
  for (const LocalAddress& address : *addresses) texts.push_back(address.text);
  return texts;
}

bool IsLocalAddress(const std::string& address) {
  const auto addresses = LocalAddressTexts();
  return addresses && std::ranges::find(*addresses, address) != addresses->end();
}

std::vector<std::uint32_t> LocalAddressValues() {
  std::vector<std::uint32_t> values;
  for (const std::string& text : LocalAddressTexts().value_or(std::vector<std::string>{})) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) == 1) values.push_back(address.s_addr);
  }
  return values;
}

}  // namespace orvanel
