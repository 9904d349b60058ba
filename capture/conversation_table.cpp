#include "capture/conversation_table.h"

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "capture/listed_row.h"
#include "capture/packet_decode.h"

namespace orvanel {
namespace {

constexpr std::int64_t kFragmentWindowNs = 30'000'000'000;
constexpr std::size_t kFragmentLimit = 65'536;  // first fragments remembered at once
constexpr std::size_t kFoldSamples = 1'024;

// A slot's tag: key fields, whether it holds a conversation, and a
// generation that grows each time the slot is given to one.
constexpr std::uint64_t kHasPortsBit = std::uint64_t{1} << 40;
constexpr std::uint64_t kLiveBit = std::uint64_t{1} << 41;
constexpr int kGenerationShift = 42;

std::uint32_t GenerationOf(std::uint64_t tag) { return static_cast<std::uint32_t>(tag >> kGenerationShift); }

std::uint64_t TagOf(const ConversationKey& key, std::uint32_t generation) {
  return key.portA | std::uint64_t{key.portB} << 16 | std::uint64_t{key.protocol} << 32 |
         (key.hasPorts ? kHasPortsBit : 0) | kLiveBit | std::uint64_t{generation} << kGenerationShift;
}

// Both endpoints in one order whichever way a packet goes, for lookups.
struct CanonicalKey {
  std::uint64_t low;
  std::uint64_t high;
  std::uint32_t kind;  // protocol and whether there are ports

  bool operator==(const CanonicalKey&) const = default;
};

std::uint64_t EndpointA(const ConversationKey& key) { return std::uint64_t{key.addressA} << 16 | key.portA; }
std::uint64_t EndpointB(const ConversationKey& key) { return std::uint64_t{key.addressB} << 16 | key.portB; }

CanonicalKey CanonicalOf(const ConversationKey& key) {
  const std::uint64_t a = EndpointA(key);
  const std::uint64_t b = EndpointB(key);
  return {std::min(a, b), std::max(a, b), key.protocol | (key.hasPorts ? 0x100u : 0u)};
}

}  // namespace

ConversationKey ConversationKeyOf(std::uint8_t protocol, const ListedRow& row) {
  ConversationKey key{protocol, row.hasPorts, row.source, row.destination, 0, 0};
  if (row.hasPorts) {
    key.portA = row.sourcePort;
    key.portB = row.destinationPort;
  }
  return key;
}

// Every field is atomic, so readers may look while the writer counts: they
// check the tag before and after, as a sequence lock's readers do.
struct ConversationTable::Slot {
  std::atomic<std::uint64_t> tag{0};
  std::atomic<std::uint64_t> addresses{0};  // A in the low half
  std::atomic<std::uint64_t> packets[2]{};  // A to B, B to A
  std::atomic<std::uint64_t> bytes[2]{};
  std::atomic<std::int64_t> firstNs{0};
  std::atomic<std::int64_t> lastNs{0};

  // The writer alone: plain loads and stores, no locked instructions.
  static void Add(std::atomic<std::uint64_t>& field, std::uint64_t amount) {
    field.store(field.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
  }
  void CountPackets(int direction, std::uint32_t count, std::uint64_t length, std::int64_t fromNs, std::int64_t toNs) {
    Add(packets[direction], count);
    Add(bytes[direction], length);
    if (fromNs < firstNs.load(std::memory_order_relaxed)) firstNs.store(fromNs, std::memory_order_relaxed);
    if (toNs > lastNs.load(std::memory_order_relaxed)) lastNs.store(toNs, std::memory_order_relaxed);
  }
  [[nodiscard]] ConversationKey Key() const {
    const std::uint64_t t = tag.load(std::memory_order_acquire);
    const std::uint64_t a = addresses.load(std::memory_order_acquire);
    return {static_cast<std::uint8_t>(t >> 32),  (t & kHasPortsBit) != 0,       static_cast<std::uint32_t>(a),
            static_cast<std::uint32_t>(a >> 32), static_cast<std::uint16_t>(t), static_cast<std::uint16_t>(t >> 16)};
  }
};
static_assert(sizeof(std::atomic<std::uint64_t>) == 8 && std::atomic<std::uint64_t>::is_always_lock_free);

// The writer's own state: the index from endpoints to slots, the free
// slots, and the first fragments of recent fragmented datagrams.
struct ConversationTable::Writer {
  explicit Writer(ConversationTable& owner) : table(owner), index(owner.limit_, SlotHash{&owner}, SlotEqual{&owner}) {}

  struct SlotHash {
    using is_transparent = void;
    const ConversationTable* table;
    std::size_t operator()(const CanonicalKey& key) const {
      return absl::Hash<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>>{}({key.low, key.high, key.kind});
    }
    std::size_t operator()(std::uint32_t slot) const { return (*this)(CanonicalOf(table->slots_[slot].Key())); }
  };
  struct SlotEqual {
    using is_transparent = void;
    const ConversationTable* table;
    bool operator()(std::uint32_t a, std::uint32_t b) const { return a == b; }
    bool operator()(std::uint32_t slot, const CanonicalKey& key) const {
      return CanonicalOf(table->slots_[slot].Key()) == key;
    }
    bool operator()(const CanonicalKey& key, std::uint32_t slot) const { return (*this)(slot, key); }
  };
  struct FirstFragment {
    ConversationId id;
    int direction;
    std::int64_t timeNs;
  };
  // Source and destination, then identification and protocol.
  using FragmentKey = std::pair<std::uint64_t, std::uint32_t>;

  // The conversation of the last packet: a flow's packets come in runs.
  struct Recent {
    CanonicalKey key;
    std::uint32_t slot;
    std::uint64_t endpointA;
  };

  ConversationTable& table;
  // Room for the limit from the start: growing would hash every slot again.
  absl::flat_hash_set<std::uint32_t, SlotHash, SlotEqual> index;
  std::optional<Recent> recent;
  std::vector<std::uint32_t> freeSlots;
  absl::flat_hash_map<FragmentKey, FirstFragment> fragments;
  std::uint32_t constructed = 0;  // slots made so far; they stay made across a Clear
};

ConversationTable::ConversationTable(std::uint32_t limit) : limit_(std::max<std::uint32_t>(limit, 1)) {
  // One mapping for the slots and the folded row after them: it never
  // moves, so readers need no lock, and untouched pages take no memory.
  void* memory = mmap(nullptr, (std::size_t{limit_} + 1) * sizeof(Slot), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) std::abort();  // address space, not memory: as for any allocation
  slots_ = static_cast<Slot*>(memory);
  std::construct_at(&slots_[limit_]);
  writer_ = std::make_unique<Writer>(*this);
}

ConversationTable::~ConversationTable() {
  writer_.reset();
  munmap(slots_, (std::size_t{limit_} + 1) * sizeof(Slot));
}

void ConversationTable::Clear() { clearRequested_.store(true, std::memory_order_release); }

void ConversationTable::FinishClear() {
  if (!Cleared()) return;
  Writer& w = *writer_;
  w.index.clear();
  w.index.reserve(limit_);
  w.recent.reset();
  w.freeSlots.clear();
  w.fragments.clear();
  Slot& folded = slots_[limit_];
  folded.tag.store(0, std::memory_order_relaxed);
  for (int direction = 0; direction < 2; ++direction) {
    folded.packets[direction].store(0, std::memory_order_relaxed);
    folded.bytes[direction].store(0, std::memory_order_relaxed);
  }
  used_.store(0, std::memory_order_release);
  held_.store(0, std::memory_order_relaxed);
  foldedCount_.store(0, std::memory_order_relaxed);
  clearRequested_.store(false, std::memory_order_release);
}

void ConversationTable::Count(const IpHeaderView& view, const ListedRow& row) {
  CountRun(view, row, 1, row.totalLength, row.captureTimeNs);
}

void ConversationTable::CountRun(const IpHeaderView& view, const ListedRow& row, std::uint32_t packets,
                                 std::uint64_t bytes, std::int64_t lastNs) {
  if (Cleared()) FinishClear();
  Writer& w = *writer_;
  const std::uint16_t fragment = view.Field16(6);
  const bool transport = view.Protocol() == kProtocolTCP || view.Protocol() == kProtocolUDP;
  const Writer::FragmentKey fragmentKey{std::uint64_t{row.source} | std::uint64_t{row.destination} << 32,
                                        view.Field16(4) | std::uint32_t{view.Protocol()} << 16};
  if (transport && (fragment & 0x1FFF) != 0) {
    const auto first = w.fragments.find(fragmentKey);
    if (first != w.fragments.end() && std::abs(row.captureTimeNs - first->second.timeNs) <= kFragmentWindowNs) {
      const ConversationId id = first->second.id;
      const std::uint64_t tag = slots_[id.slot].tag.load(std::memory_order_relaxed);
      if ((tag & kLiveBit) != 0 && GenerationOf(tag) == id.generation) {
        slots_[id.slot].CountPackets(first->second.direction, packets, bytes, row.captureTimeNs, lastNs);
        return;
      }
    }
  }

  const ConversationKey key = ConversationKeyOf(view.Protocol(), row);
  const CanonicalKey canonical = CanonicalOf(key);
  const std::uint64_t source = EndpointA(key);
  if (!w.recent || !(w.recent->key == canonical)) {
    const auto found = w.index.find(canonical);
    const std::uint32_t slot = found != w.index.end() ? *found : Claim(key, row.captureTimeNs);
    w.recent = Writer::Recent{canonical, slot, EndpointA(slots_[slot].Key())};
  }
  const std::uint32_t slot = w.recent->slot;
  const int direction = source == w.recent->endpointA ? 0 : 1;
  slots_[slot].CountPackets(direction, packets, bytes, row.captureTimeNs, lastNs);

  if (transport && row.hasPorts && (fragment & 0x2000) != 0) {
    if (w.fragments.size() >= kFragmentLimit) {
      absl::erase_if(w.fragments, [&row](const auto& entry) {
        return std::abs(row.captureTimeNs - entry.second.timeNs) > kFragmentWindowNs;
      });
      if (w.fragments.size() >= kFragmentLimit) w.fragments.clear();
    }
    const std::uint32_t generation = GenerationOf(slots_[slot].tag.load(std::memory_order_relaxed));
    w.fragments[fragmentKey] = {{slot, generation}, direction, row.captureTimeNs};
  }
}

std::uint32_t ConversationTable::Claim(const ConversationKey& key, std::int64_t timeNs) {
  Writer& w = *writer_;
  if (w.freeSlots.empty() && used_.load(std::memory_order_relaxed) == limit_) FoldLeastRecent();
  std::uint32_t slot = 0;
  if (!w.freeSlots.empty()) {
    slot = w.freeSlots.back();
    w.freeSlots.pop_back();
  } else {
    slot = used_.load(std::memory_order_relaxed);
    if (slot == w.constructed) {
      std::construct_at(&slots_[slot]);
      ++w.constructed;
    }
  }
  Slot& s = slots_[slot];
  // Readers see the slot as empty until it holds the new conversation whole.
  const std::uint32_t generation = GenerationOf(s.tag.exchange(0, std::memory_order_acq_rel)) + 1;
  s.addresses.store(key.addressA | std::uint64_t{key.addressB} << 32, std::memory_order_relaxed);
  for (int direction = 0; direction < 2; ++direction) {
    s.packets[direction].store(0, std::memory_order_relaxed);
    s.bytes[direction].store(0, std::memory_order_relaxed);
  }
  s.firstNs.store(timeNs, std::memory_order_relaxed);
  s.lastNs.store(timeNs, std::memory_order_relaxed);
  s.tag.store(TagOf(key, generation), std::memory_order_release);
  if (slot == used_.load(std::memory_order_relaxed)) used_.store(slot + 1, std::memory_order_release);
  held_.store(held_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  writer_->index.insert(slot);
  return slot;
}

// Folds about an eighth of the table at once, those last active before a
// time taken from a sample of the slots, so that a flood of new
// conversations pays for a fold rarely and never per packet.
void ConversationTable::FoldLeastRecent() {
  const std::uint32_t used = used_.load(std::memory_order_relaxed);
  std::vector<std::int64_t> sample;
  const std::uint32_t step = std::max<std::uint32_t>(1, used / kFoldSamples);
  for (std::uint32_t slot = 0; slot < used; slot += step) {
    if (slots_[slot].tag.load(std::memory_order_relaxed) & kLiveBit) {
      sample.push_back(slots_[slot].lastNs.load(std::memory_order_relaxed));
    }
  }
  if (sample.empty()) return;
  const auto cut = sample.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(sample.size() / 8, 1) - 1);
  std::nth_element(sample.begin(), cut, sample.end());
  // All before the cut, then as many at it as make up an eighth: when
  // every slot was last active at one time, some still go.
  const std::uint64_t quota = std::max<std::uint32_t>(1, limit_ / 8);
  std::uint64_t foldedNow = 0;
  for (const bool atCut : {false, true}) {
    for (std::uint32_t slot = 0; slot < used && !(atCut && foldedNow >= quota); ++slot) {
      const std::int64_t last = slots_[slot].lastNs.load(std::memory_order_relaxed);
      if ((slots_[slot].tag.load(std::memory_order_relaxed) & kLiveBit) == 0 || (atCut ? last != *cut : last >= *cut)) {
        continue;
      }
      Fold(slot, foldedCount_.load(std::memory_order_relaxed) + foldedNow == 0);
      ++foldedNow;
    }
  }
  foldedCount_.store(foldedCount_.load(std::memory_order_relaxed) + foldedNow, std::memory_order_release);
  held_.store(held_.load(std::memory_order_relaxed) - static_cast<std::uint32_t>(foldedNow), std::memory_order_relaxed);
}

// Moves a conversation's counts into the folded row and frees its slot.
void ConversationTable::Fold(std::uint32_t slot, bool firstFolded) {
  Slot& s = slots_[slot];
  Slot& folded = slots_[limit_];
  writer_->index.erase(slot);  // while the slot still holds its key
  if (writer_->recent && writer_->recent->slot == slot) writer_->recent.reset();
  for (int direction = 0; direction < 2; ++direction) {
    Slot::Add(folded.packets[direction], s.packets[direction].load(std::memory_order_relaxed));
    Slot::Add(folded.bytes[direction], s.bytes[direction].load(std::memory_order_relaxed));
  }
  const std::int64_t first = s.firstNs.load(std::memory_order_relaxed);
  const std::int64_t last = s.lastNs.load(std::memory_order_relaxed);
  if (firstFolded || first < folded.firstNs.load(std::memory_order_relaxed)) {
    folded.firstNs.store(first, std::memory_order_relaxed);
  }
  if (firstFolded || last > folded.lastNs.load(std::memory_order_relaxed)) {
    folded.lastNs.store(last, std::memory_order_relaxed);
  }
  s.tag.store(s.tag.load(std::memory_order_relaxed) & ~kLiveBit, std::memory_order_release);
  writer_->freeSlots.push_back(slot);
}

std::uint32_t ConversationTable::Held() const { return Cleared() ? 0 : held_.load(std::memory_order_relaxed); }

std::uint64_t ConversationTable::FoldedCount() const {
  return Cleared() ? 0 : foldedCount_.load(std::memory_order_acquire);
}

bool ConversationTable::ReadSlot(std::uint32_t slot, Conversation& conversation, std::uint32_t& generation) const {
  const Slot& s = slots_[slot];
  const std::uint64_t before = s.tag.load(std::memory_order_acquire);
  if ((before & kLiveBit) == 0 && slot != limit_) return false;
  conversation.key = s.Key();
  conversation.packetsAToB = s.packets[0].load(std::memory_order_acquire);
  conversation.packetsBToA = s.packets[1].load(std::memory_order_acquire);
  conversation.bytesAToB = s.bytes[0].load(std::memory_order_acquire);
  conversation.bytesBToA = s.bytes[1].load(std::memory_order_acquire);
  conversation.firstNs = s.firstNs.load(std::memory_order_acquire);
  conversation.lastNs = s.lastNs.load(std::memory_order_acquire);
  generation = GenerationOf(before);
  return s.tag.load(std::memory_order_acquire) == before;
}

void ConversationTable::ForEach(const std::function<void(ConversationId, const Conversation&)>& visit) const {
  ForEachFrom(0, limit_, visit);
}

std::uint32_t ConversationTable::ForEachFrom(
    std::uint32_t firstSlot, std::uint32_t count,
    const std::function<void(ConversationId, const Conversation&)>& visit) const {
  if (Cleared()) return 0;
  const std::uint32_t used = used_.load(std::memory_order_acquire);
  const std::uint32_t end = firstSlot + std::min(count, used - std::min(firstSlot, used));
  Conversation conversation;
  for (std::uint32_t slot = firstSlot; slot < end; ++slot) {
    std::uint32_t generation = 0;
    if (ReadSlot(slot, conversation, generation)) visit({slot, generation}, conversation);
  }
  return end < used ? end : 0;
}

std::optional<Conversation> ConversationTable::Read(ConversationId id) const {
  if (Cleared()) return std::nullopt;
  Conversation conversation;
  std::uint32_t generation = 0;
  if (id == kFoldedConversations) {
    if (FoldedCount() == 0 || !ReadSlot(limit_, conversation, generation)) return std::nullopt;
    conversation.key = {};
    return conversation;
  }
  if (id.slot >= used_.load(std::memory_order_acquire)) return std::nullopt;
  if (!ReadSlot(id.slot, conversation, generation) || generation != id.generation) return std::nullopt;
  return conversation;
}

}  // namespace orvanel
