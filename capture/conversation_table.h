// Who talks to whom: every counted packet in exactly one conversation, in a
// table of bounded size. The capture loop's thread writes it, or the relay
// of a capture in the socket helper (one thread at a time); any thread reads
// it, without locks and without stopping the writer. When the table is full, the least recently active conversations
// are folded into one row that keeps their packets and bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "capture/conversation.h"
#include "capture/counted_packet_sink.h"

namespace orvanel {

// The endpoints of a datagram's conversation as its own packet shows them
// (a later fragment's without ports).
ConversationKey ConversationKeyOf(std::uint8_t protocol, const ListedRow& row);

class ConversationTable final : public CountedPacketSink {
 public:
  static constexpr std::uint32_t kDefaultLimit = 1'000'000;

  explicit ConversationTable(std::uint32_t limit = kDefaultLimit);
  ~ConversationTable() override;
  ConversationTable(const ConversationTable&) = delete;
  ConversationTable& operator=(const ConversationTable&) = delete;

  // Writer: counts one packet, decoded as the loop decoded it. A later
  // fragment goes to its first fragment's conversation when that was seen
  // in the last 30 s, else to its address pair's conversation without ports.
  void Count(const IpHeaderView& view, const ListedRow& row) override;
  // Writer: packets of one flow in one direction, of bytes in all, the first
  // decoded as view and row and the last captured at lastNs; as Count for
  // each of them. A fragment comes alone.
  void CountRun(const IpHeaderView& view, const ListedRow& row, std::uint32_t packets, std::uint64_t bytes,
                std::int64_t lastNs);

  // Reader: empties the table at once as readers see it; the writer lets
  // its entries go before its next packet, or FinishClear does when none runs.
  void Clear();
  // Lets the entries of a Clear go now. Only while no writer runs.
  void FinishClear();

  // Readers, any thread. A conversation the writer changes meanwhile may
  // show some of its counts before the change and some after.
  [[nodiscard]] std::uint32_t Limit() const { return limit_; }
  [[nodiscard]] std::uint32_t Held() const;         // conversations in the table, not folded
  [[nodiscard]] std::uint64_t FoldedCount() const;  // conversations folded since the table was last emptied
  void ForEach(const std::function<void(ConversationId, const Conversation&)>& visit) const;
  // The same over at most count slots from firstSlot on, for a reader that
  // walks a large table in parts; returns the slot to go on from, 0 at the end.
  std::uint32_t ForEachFrom(std::uint32_t firstSlot, std::uint32_t count,
                            const std::function<void(ConversationId, const Conversation&)>& visit) const;
  // The conversation, if its slot still holds it; kFoldedConversations gives
  // the folded row (its key is empty).
  [[nodiscard]] std::optional<Conversation> Read(ConversationId id) const;

 private:
  struct Slot;
  struct Writer;

  [[nodiscard]] bool Cleared() const { return clearRequested_.load(std::memory_order_acquire); }
  std::uint32_t Claim(const ConversationKey& key, std::int64_t timeNs);
  void FoldLeastRecent();
  void Fold(std::uint32_t slot, bool firstFolded);
  bool ReadSlot(std::uint32_t slot, Conversation& conversation, std::uint32_t& generation) const;

  const std::uint32_t limit_;
  Slot* slots_;  // limit_ of them and the folded row, mapped once; pages are taken as slots are first used
  std::unique_ptr<Writer> writer_;

  std::atomic<std::uint32_t> used_{0};  // slots handed out since the last Clear; readers look at these
  std::atomic<std::uint32_t> held_{0};
  std::atomic<std::uint64_t> foldedCount_{0};
  std::atomic<bool> clearRequested_{false};
};

}  // namespace orvanel
