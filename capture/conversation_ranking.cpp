#include "capture/conversation_ranking.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "capture/address_text.h"

namespace orvanel {
namespace {

// Host order, so that addresses sort as their texts are read.
std::uint64_t HostOrder(std::uint32_t networkOrderAddress) {
  const auto* octets = reinterpret_cast<const std::uint8_t*>(&networkOrderAddress);
  return std::uint64_t{octets[0]} << 24 | std::uint64_t{octets[1]} << 16 | std::uint64_t{octets[2]} << 8 | octets[3];
}

// Signed times in an unsigned key with their order kept.
std::uint64_t Ordered(std::int64_t value) { return static_cast<std::uint64_t>(value) ^ (std::uint64_t{1} << 63); }

std::uint64_t KeyOf(const Conversation& c, ConversationOrder order) {
  switch (order) {
    case ConversationOrder::Protocol: return c.key.protocol;
    case ConversationOrder::AddressA: return HostOrder(c.key.addressA) << 16 | c.key.portA;
    case ConversationOrder::PortA: return c.key.portA;
    case ConversationOrder::AddressB: return HostOrder(c.key.addressB) << 16 | c.key.portB;
    case ConversationOrder::PortB: return c.key.portB;
    case ConversationOrder::PacketsAToB: return c.packetsAToB;
    case ConversationOrder::BytesAToB: return c.bytesAToB;
    case ConversationOrder::PacketsBToA: return c.packetsBToA;
    case ConversationOrder::BytesBToA: return c.bytesBToA;
    case ConversationOrder::Start: return Ordered(c.firstNs);
    case ConversationOrder::Duration: return c.DurationNs();
    case ConversationOrder::TotalBytes: return c.Bytes();
    case ConversationOrder::Program: return 0;  // from the program texts, afterwards
  }
  return 0;
}

bool PortHolds(bool hasPorts, std::uint16_t port, std::string_view text) {
  if (!hasPorts) return false;
  char digits[8];
  const auto end = std::to_chars(digits, digits + sizeof digits, port).ptr;
  return std::string_view(digits, static_cast<std::size_t>(end - digits)).find(text) != std::string_view::npos;
}

bool TextHolds(const ConversationKey& key, const std::string* program, std::string_view text) {
  return AddressText(key.addressA).View().find(text) != std::string_view::npos ||
         AddressText(key.addressB).View().find(text) != std::string_view::npos ||
         PortHolds(key.hasPorts, key.portA, text) || PortHolds(key.hasPorts, key.portB, text) ||
         (program && program->find(text) != std::string::npos);
}

struct Ranked {
  std::uint64_t key;
  std::uint64_t bytes;
  ConversationId id;
};

// Program texts as sort keys: none first, then in the order of the texts.
void KeysFromPrograms(std::vector<Ranked>& ranked, const std::vector<std::string>& programs) {
  std::vector<std::string> names(programs);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    const auto place = std::lower_bound(names.begin(), names.end(), programs[i]);
    ranked[i].key = programs[i].empty() ? 0 : static_cast<std::uint64_t>(place - names.begin()) + 1;
  }
}

}  // namespace

std::vector<ConversationId> RankConversations(const ConversationTable& table, const RankingRequest& request) {
  const bool byProgram = request.order == ConversationOrder::Program;
  std::vector<Ranked> ranked;
  std::vector<std::string> programs;  // of each ranked one, when they sort by it
  ranked.reserve(table.Held() + 1);
  table.ForEach([&](ConversationId id, const Conversation& conversation) {
    const auto program = request.programOf ? request.programOf(id) : std::nullopt;
    const std::string text = program ? ProgramText(*program) : std::string();
    if (!request.text.empty() && !TextHolds(conversation.key, program ? &text : nullptr, request.text)) return;
    ranked.push_back({KeyOf(conversation, request.order), conversation.Bytes(), id});
    if (byProgram) programs.push_back(text);
  });
  if (request.text.empty()) {
    if (const auto folded = table.Read(kFoldedConversations)) {
      ranked.push_back({KeyOf(*folded, request.order), folded->Bytes(), kFoldedConversations});
      if (byProgram) programs.emplace_back();
    }
  }
  if (byProgram) KeysFromPrograms(ranked, programs);
  const auto before = [](const Ranked& a, const Ranked& b) {
    if (a.key != b.key) return a.key < b.key;
    if (a.bytes != b.bytes) return a.bytes > b.bytes;
    return a.id.slot < b.id.slot;
  };
  if (request.descending) {
    std::sort(ranked.begin(), ranked.end(), [&](const Ranked& a, const Ranked& b) {
      if (a.key != b.key) return a.key > b.key;
      return before(a, b);
    });
  } else {
    std::sort(ranked.begin(), ranked.end(), before);
  }
  std::vector<ConversationId> order;
  order.reserve(ranked.size());
  for (const Ranked& entry : ranked) order.push_back(entry.id);
  return order;
}

}  // namespace orvanel
