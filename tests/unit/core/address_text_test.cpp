#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "capture/address_text.h"

namespace orvanel {
namespace {

std::string PlatformText(std::uint32_t networkOrderAddress) {
  in_addr address{networkOrderAddress};
  char text[INET_ADDRSTRLEN];
  EXPECT_NE(inet_ntop(AF_INET, &address, text, sizeof text), nullptr);
  return text;
}

std::uint32_t FromOctets(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t octets[4] = {a, b, c, d};
  std::uint32_t address;
  std::memcpy(&address, octets, sizeof address);
  return address;
}

TEST(AddressText, MatchesThePlatformOnEveryOctetEdgeCombination) {
  const std::uint8_t edges[] = {0, 1, 9, 10, 11, 99, 100, 101, 109, 110, 199, 200, 249, 250, 254, 255};
  for (auto a : edges)
    for (auto b : edges)
      for (auto c : edges)
        for (auto d : edges) {
          const std::uint32_t address = FromOctets(a, b, c, d);
          ASSERT_EQ(AddressText(address).View(), PlatformText(address));
        }
  // inet_ntoa is what the text must equal; it is safe here on one thread.
  const std::uint32_t widest = FromOctets(255, 255, 255, 255);
  EXPECT_EQ(AddressText(widest).View(), inet_ntoa(in_addr{widest}));
  EXPECT_EQ(AddressText(FromOctets(10, 0, 0, 1)).View(), "10.0.0.1");
}

TEST(AddressText, MatchesThePlatformOnALargeRandomSample) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 1'000'000; ++i) {
    const std::uint32_t address = random();
    ASSERT_EQ(AddressText(address).View(), PlatformText(address)) << address;
  }
}

}  // namespace
}  // namespace orvanel
