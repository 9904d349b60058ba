#include "tools/conversation_printer.h"

#include <cinttypes>
#include <string>

#include "capture/address_text.h"
#include "capture/conversation_ranking.h"
#include "tools/traffic_names.h"

namespace orvanel::cli {
namespace {

std::string ProtocolText(std::uint8_t protocol) {
  const ProtocolClass known = ClassOfProtocol(protocol);
  return known == ProtocolClass::OTHER ? std::to_string(protocol) : std::string(ProtocolName(known));
}

// Seconds since the epoch with nine decimals.
std::string SecondsText(std::int64_t ns) {
  const bool negative = ns < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(ns) : static_cast<std::uint64_t>(ns);
  char text[32];
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%09" PRIu64, negative ? "-" : "", magnitude / 1'000'000'000,
                magnitude % 1'000'000'000);
  return text;
}

std::string Counts(const Conversation& c, char separator) {
  const auto number = [separator](std::uint64_t value) { return separator + std::to_string(value); };
  return number(c.packetsAToB) + number(c.bytesAToB) + number(c.packetsBToA) + number(c.bytesBToA) + separator +
         SecondsText(c.firstNs) + separator + SecondsText(c.lastNs);
}

std::string TsvLine(ConversationId id, const Conversation& c, std::uint64_t folded,
                    const std::optional<ConversationProgram>& program) {
  if (id == kFoldedConversations) return "#conv_folded\t" + std::to_string(folded) + Counts(c, '\t');
  const ConversationKey& k = c.key;
  const auto port = [&k](std::uint16_t value) { return k.hasPorts ? std::to_string(value) : std::string(); };
  return "#conv\t" + ProtocolText(k.protocol) + '\t' + std::string(AddressText(k.addressA).View()) + '\t' +
         port(k.portA) + '\t' + std::string(AddressText(k.addressB).View()) + '\t' + port(k.portB) + Counts(c, '\t') +
         '\t' + (program ? ProgramText(*program) : std::string());
}

// Program names hold no control bytes (the lookup replaces them), but may
// hold quotes and backslashes.
std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char ch : text) {
    if (ch == '"' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  return quoted + "\"";
}

std::string JsonObject(ConversationId id, const Conversation& c, std::uint64_t folded,
                       const std::optional<ConversationProgram>& program) {
  const auto field = [](const char* name, const std::string& value) {
    return std::string("\"") + name + "\":" + value + ",";
  };
  const auto quoted = [](std::string_view text) { return "\"" + std::string(text) + "\""; };
  std::string object = "{";
  if (id == kFoldedConversations) {
    object += field("count", std::to_string(folded));
  } else {
    const ConversationKey& k = c.key;
    object += field("protocol", quoted(ProtocolText(k.protocol))) + field("a", quoted(AddressText(k.addressA).View()));
    if (k.hasPorts) object += field("a_port", std::to_string(k.portA));
    object += field("b", quoted(AddressText(k.addressB).View()));
    if (k.hasPorts) object += field("b_port", std::to_string(k.portB));
    if (program) object += field("program", JsonString(program->name));
    if (program && program->pid != 0) object += field("pid", std::to_string(program->pid));
  }
  object +=
      field("packets_a_to_b", std::to_string(c.packetsAToB)) + field("bytes_a_to_b", std::to_string(c.bytesAToB)) +
      field("packets_b_to_a", std::to_string(c.packetsBToA)) + field("bytes_b_to_a", std::to_string(c.bytesBToA)) +
      field("first", SecondsText(c.firstNs)) + field("last", SecondsText(c.lastNs));
  object += std::string("\"folded\":") + (id == kFoldedConversations ? "true" : "false") + "}";
  return object;
}

}  // namespace

void PrintConversations(std::FILE* out, const ConversationTable& table, OutputFormat format,
                        const ProgramFinder& programOf) {
  const std::uint64_t folded = table.FoldedCount();
  const bool json = format == OutputFormat::Json;
  if (json) std::fputs("{\"conversations\":[", out);
  bool first = true;
  for (const ConversationId id : RankConversations(table, {})) {
    const std::optional<Conversation> conversation = table.Read(id);
    if (!conversation) continue;
    const auto program = programOf ? programOf(id) : std::nullopt;
    if (json) {
      std::fprintf(out, "%s%s", first ? "" : ",", JsonObject(id, *conversation, folded, program).c_str());
    } else {
      std::fprintf(out, "%s\n", TsvLine(id, *conversation, folded, program).c_str());
    }
    first = false;
  }
  if (json) std::fputs("]}\n", out);
}

}  // namespace orvanel::cli
