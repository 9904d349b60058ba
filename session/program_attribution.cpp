#include "session/program_attribution.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

#include "net/program_lookup.h"

namespace orvanel {
namespace {

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;

}  // namespace

ProgramAttribution::ProgramAttribution(const ConversationTable& table) : table_(table) {}

ProgramAttribution::~ProgramAttribution() { Stop(); }

void ProgramAttribution::Watch(std::vector<std::uint32_t> localAddresses, std::int64_t sinceNs) {
  local_ = {localAddresses.begin(), localAddresses.end()};
  sinceNs_ = sinceNs;
}

void ProgramAttribution::Stop() {
  {
    const std::lock_guard lock(stopMutex_);
    stop_ = true;
  }
  stopSignal_.notify_all();
  if (thread_.joinable()) thread_.join();
  stop_ = false;
}

// All of 127.0.0.0/8 is this machine's, though only 127.0.0.1 is listed.
bool ProgramAttribution::IsLocal(std::uint32_t address) const {
  return reinterpret_cast<const std::uint8_t*>(&address)[0] == 127 || local_.contains(address);
}

void ProgramAttribution::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
  pthread_setname_np(thread_.native_handle(), "orvanel-program");  // its CPU time can be told apart
}

void ProgramAttribution::Run() {
  std::unique_lock lock(stopMutex_);
  while (!stopSignal_.wait_for(lock, std::chrono::milliseconds(1000 / kPassesPerSecond), [this] { return stop_; })) {
    lock.unlock();
    Pass();
    lock.lock();
  }
}

std::optional<ConversationProgram> ProgramAttribution::ProgramOf(ConversationId id) const {
  const std::lock_guard lock(mutex_);
  const auto found = entries_.find(id.slot);
  if (found == entries_.end() || found->second.generation != id.generation) return std::nullopt;
  return found->second.program;
}

std::optional<ConversationProgram> ProgramAttribution::ProgramOfKey(const ConversationKey& key) const {
  const ConversationKey swapped{key.protocol, key.hasPorts, key.addressB, key.addressA, key.portB, key.portA};
  const std::lock_guard lock(mutex_);
  for (const auto& [slot, entry] : entries_) {
    if ((entry.key == key || entry.key == swapped) && table_.Read({slot, entry.generation})) return entry.program;
  }
  return std::nullopt;
}

// New conversations first, then those with packets since their lookup; the
// table is walked a part at a time so that a pass costs the same at any size.
std::vector<ProgramAttribution::Candidate> ProgramAttribution::Candidates() {
  std::vector<Candidate> fresh;
  std::vector<Candidate> again;
  const std::lock_guard lock(mutex_);
  if (entries_.size() >= kCacheLimit) {
    std::erase_if(entries_, [this](const auto& entry) { return !table_.Read({entry.first, entry.second.generation}); });
  }
  cursor_ = table_.ForEachFrom(cursor_, kSlotsPerPass, [&](ConversationId id, const Conversation& c) {
    const ConversationKey& k = c.key;
    if (!k.hasPorts || (k.protocol != kTcp && k.protocol != kUdp) || c.lastNs < sinceNs_) return;
    if (!IsLocal(k.addressA) && !IsLocal(k.addressB)) return;
    const auto found = entries_.find(id.slot);
    if (found == entries_.end() || found->second.generation != id.generation) {
      if (fresh.size() < kBatch) fresh.push_back({id, c});
    } else if (c.lastNs > found->second.checkedNs && again.size() < kBatch) {
      again.push_back({id, c});
    }
  });
  for (Candidate& candidate : again) {
    if (fresh.size() >= kBatch) break;
    fresh.push_back(candidate);
  }
  return fresh;
}

void ProgramAttribution::Pass() {
  const std::vector<Candidate> candidates = Candidates();
  if (candidates.empty()) return;
  std::vector<std::uint8_t> protocols;
  for (const std::uint8_t protocol : {kTcp, kUdp}) {
    const auto isOf = [protocol](const Candidate& c) { return c.conversation.key.protocol == protocol; };
    if (std::ranges::any_of(candidates, isOf)) protocols.push_back(protocol);
  }
  const std::optional<SocketSnapshot> sockets = SocketSnapshot::Take(protocols);
  if (!sockets) return;

  // The owner of each candidate's local end: A's when A is local, else B's.
  std::vector<std::optional<SocketEntry>> owners;
  std::vector<SocketEntry> unknown;
  {
    const std::lock_guard lock(mutex_);
    for (const Candidate& candidate : candidates) {
      const ConversationKey& k = candidate.conversation.key;
      std::optional<SocketEntry> owner;
      if (IsLocal(k.addressA)) owner = sockets->Owner({k.protocol, k.addressA, k.portA, k.addressB, k.portB});
      if (!owner && IsLocal(k.addressB)) owner = sockets->Owner({k.protocol, k.addressB, k.portB, k.addressA, k.portA});
      const auto known = entries_.find(candidate.id.slot);
      const bool same = owner && known != entries_.end() && known->second.generation == candidate.id.generation &&
                        known->second.inode == owner->inode;
      if (owner && !same) unknown.push_back(*owner);
      owners.push_back(owner);
    }
  }
  // The slow part, /proc, without the lock.
  const auto programs = ProgramsOf(unknown);

  const std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& candidate = candidates[i];
    const auto known = entries_.find(candidate.id.slot);
    const bool held = known != entries_.end() && known->second.generation == candidate.id.generation;
    if (!held && entries_.size() >= kCacheLimit) {
      skipped_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    Entry& entry = entries_[candidate.id.slot];
    if (!held) entry = {candidate.id.generation, candidate.conversation.key, std::nullopt, 0, 0};
    entry.checkedNs = candidate.conversation.lastNs;
    const std::optional<SocketEntry>& owner = owners[i];
    if (!owner) {
      // Closed: its last packets were still its own. Another socket on the
      // endpoint later has another inode and is looked up afresh.
      entry.inode = 0;
    } else if (owner->inode != entry.inode) {
      const auto program = programs.find(owner->inode);
      entry.program = program != programs.end() ? std::optional(program->second) : std::nullopt;
      entry.inode = owner->inode;
    }
  }
}

}  // namespace orvanel
