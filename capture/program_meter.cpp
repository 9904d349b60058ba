#include "capture/program_meter.h"

namespace orvanel {

std::string ProgramMeter::LabelOf(const std::optional<ConversationProgram>& program) const {
  if (!program) return {};
  if (totals_.contains(program->name)) return program->name;
  const std::size_t named = totals_.size() - totals_.count("") - totals_.count(kOtherLabel);
  return named < kLabelLimit ? program->name : kOtherLabel;
}

void ProgramMeter::Sweep(const ConversationTable& table, const ProgramFinder& programOf,
                         const std::function<bool(std::uint32_t)>& isLocal) {
  const std::lock_guard sweeping(sweepMutex_);
  std::unordered_map<std::uint32_t, Seen> now;
  now.reserve(seen_.size());
  table.ForEach([&](ConversationId id, const Conversation& c) {
    const bool localA = isLocal(c.key.addressA);
    if (!localA && !isLocal(c.key.addressB)) return;
    Seen& current = now[id.slot];
    current = {id.generation, {c.packetsAToB, c.packetsBToA}, {c.bytesAToB, c.bytesBToA}};
    const auto before = seen_.find(id.slot);
    const bool known = before != seen_.end() && before->second.generation == id.generation;
    const std::lock_guard lock(mutex_);
    const std::string label = LabelOf(programOf ? programOf(id) : std::nullopt);
    if (label == kOtherLabel && !known) ++otherConversations_;
    ProgramTraffic& total = totals_[label];
    // A to B goes out when A is this machine's end.
    for (int direction = 0; direction < 2; ++direction) {
      const int way = (direction == 0) == localA ? 1 : 0;
      total.packets[way] += current.packets[direction] - (known ? before->second.packets[direction] : 0);
      total.bytes[way] += current.bytes[direction] - (known ? before->second.bytes[direction] : 0);
    }
  });
  seen_ = std::move(now);  // conversations folded or cleared are let go
}

std::map<std::string, ProgramTraffic> ProgramMeter::Totals() const {
  const std::lock_guard lock(mutex_);
  return totals_;
}

std::uint64_t ProgramMeter::OtherConversations() const {
  const std::lock_guard lock(mutex_);
  return otherConversations_;
}

}  // namespace orvanel
