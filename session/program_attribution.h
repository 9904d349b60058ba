// The local program behind each conversation with an end at an address of
// this machine, looked up on a thread of its own (never the capture thread
// or the UI's), at most ten times a second, and kept in a bounded cache.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "capture/conversation_program.h"
#include "capture/conversation_table.h"

namespace orvanel {

class ProgramAttribution {
 public:
  static constexpr std::size_t kCacheLimit = 65'536;      // conversations whose lookup is kept
  static constexpr std::size_t kBatch = 512;              // conversations looked up in one pass
  static constexpr std::uint32_t kSlotsPerPass = 65'536;  // of the table, walked in one pass
  static constexpr int kPassesPerSecond = 10;

  // The table must outlive this.
  explicit ProgramAttribution(const ConversationTable& table);
  ~ProgramAttribution();  // stops the thread
  ProgramAttribution(const ProgramAttribution&) = delete;
  ProgramAttribution& operator=(const ProgramAttribution&) = delete;

  // While no pass runs: from now on, conversations with an end at one of
  // these addresses (octets in header order) or in 127.0.0.0/8 and with
  // packets captured since sinceNs (a live capture's start: a file's
  // conversations are not this machine's sockets' now).
  void Watch(std::vector<std::uint32_t> localAddresses, std::int64_t sinceNs);
  // Starts and stops the thread, which makes a pass every tenth of a second.
  void Start();
  void Stop();
  // One pass on the caller's thread: looks up conversations not yet looked
  // up, and again those with packets since their lookup.
  void Pass();

  // Any thread. None: not looked up yet, not local, or no socket found.
  std::optional<ConversationProgram> ProgramOf(ConversationId id) const;
  // The same for a conversation's endpoints, either way round.
  std::optional<ConversationProgram> ProgramOfKey(const ConversationKey& key) const;
  // An address of this machine as Watch was told.
  bool IsLocal(std::uint32_t address) const;
  // Local conversations left without a lookup because the cache was full.
  std::uint64_t Skipped() const { return skipped_.load(std::memory_order_relaxed); }

 private:
  struct Entry {
    std::uint32_t generation = 0;
    ConversationKey key;
    std::optional<ConversationProgram> program;
    std::uint64_t inode = 0;     // the owner socket; 0: none found
    std::int64_t checkedNs = 0;  // the conversation's last packet at the lookup
  };
  struct Candidate {
    ConversationId id;
    Conversation conversation;
  };

  std::vector<Candidate> Candidates();
  void Run();

  const ConversationTable& table_;
  // Set by Watch while no pass runs.
  std::unordered_set<std::uint32_t> local_;
  std::int64_t sinceNs_ = 0;
  std::uint32_t cursor_ = 0;  // the passes' place in the table

  mutable std::mutex mutex_;                          // guards entries_
  std::unordered_map<std::uint32_t, Entry> entries_;  // by slot
  std::atomic<std::uint64_t> skipped_{0};

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace orvanel
