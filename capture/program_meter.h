// Bandwidth per local program: what each conversation with an end at this
// machine counted, added to its program's totals, in and out. At most
// kLabelLimit program names are kept; the rest count as "other".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "capture/conversation_program.h"
#include "capture/conversation_table.h"

namespace orvanel {

struct ProgramTraffic {
  // [0]: into this machine, [1]: out of it.
  std::array<std::uint64_t, 2> packets{};
  std::array<std::uint64_t, 2> bytes{};
};

class ProgramMeter {
 public:
  static constexpr std::size_t kLabelLimit = 100;
  static constexpr const char* kOtherLabel = "other";

  // Adds what each conversation with a local end counted since the last
  // sweep to its program's totals ("" when it has none). Any thread; one
  // sweep at a time.
  void Sweep(const ConversationTable& table, const ProgramFinder& programOf,
             const std::function<bool(std::uint32_t)>& isLocal);

  // Totals by label: program names, "" for none, "other" past the limit.
  // Each only grows. Any thread.
  std::map<std::string, ProgramTraffic> Totals() const;
  // Conversations counted as "other": their program came past the limit.
  std::uint64_t OtherConversations() const;

 private:
  struct Seen {
    std::uint32_t generation;
    std::array<std::uint64_t, 2> packets;  // A to B, B to A
    std::array<std::uint64_t, 2> bytes;
  };
  std::string LabelOf(const std::optional<ConversationProgram>& program) const;

  std::mutex sweepMutex_;                         // guards seen_
  std::unordered_map<std::uint32_t, Seen> seen_;  // by slot: one a conversation the table holds
  mutable std::mutex mutex_;                      // guards the totals
  std::map<std::string, ProgramTraffic> totals_;
  std::uint64_t otherConversations_ = 0;
};

}  // namespace orvanel
