// One conversation as readers of the conversation table see it.
#pragma once

#include <cstdint>

namespace orvanel {

// TCP and UDP with ports: protocol and both endpoints; otherwise protocol and
// both addresses. A is the source of the first packet seen.
struct ConversationKey {
  std::uint8_t protocol = 0;  // the IPv4 protocol byte
  bool hasPorts = false;
  std::uint32_t addressA = 0;  // address octets in header order
  std::uint32_t addressB = 0;
  std::uint16_t portA = 0;
  std::uint16_t portB = 0;

  bool operator==(const ConversationKey&) const = default;
};

struct Conversation {
  ConversationKey key;
  std::uint64_t packetsAToB = 0;
  std::uint64_t bytesAToB = 0;  // IPv4 total lengths, as the byte counters sum them
  std::uint64_t packetsBToA = 0;
  std::uint64_t bytesBToA = 0;
  std::int64_t firstNs = 0;  // capture times since the epoch
  std::int64_t lastNs = 0;

  [[nodiscard]] std::uint64_t Packets() const { return packetsAToB + packetsBToA; }
  [[nodiscard]] std::uint64_t Bytes() const { return bytesAToB + bytesBToA; }
  // Unsigned: the span of the farthest capture times does not fit a signed one.
  [[nodiscard]] std::uint64_t DurationNs() const {
    return static_cast<std::uint64_t>(lastNs) - static_cast<std::uint64_t>(firstNs);
  }
};

// Where a reader finds a conversation again: its slot, and the slot's
// generation, which changes whenever the slot is given to another one.
struct ConversationId {
  std::uint32_t slot = 0;
  std::uint32_t generation = 0;

  bool operator==(const ConversationId&) const = default;
};

// The one row the least recently active conversations are folded into when
// the table is full; its slot is no slot of the table.
inline constexpr ConversationId kFoldedConversations{0xFFFFFFFFu, 0};

}  // namespace orvanel
