#include "net/capture_slots.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <thread>

#include "net/start_result.h"

namespace orvanel {
namespace {

// Abstract names have no owner: another user may hold some of a user's
// names to keep the user out. Names held by others are passed over, up to
// this many in all.
constexpr int kNamesPerUser = 64;
// How often a bound name that does not listen is looked at, a millisecond apart.
constexpr int kLooksAtATakenName = 5;
// How often a helper tries for a slot when starting together with others at the limit.
constexpr int kAttempts = 3;

struct SlotName {
  sockaddr_un address{};
  socklen_t length = 0;
};

SlotName NameOf(uid_t uid, int slot) {
  SlotName name;
  name.address.sun_family = AF_UNIX;
  // sun_path[0] stays 0: an abstract name.
  const int written = std::snprintf(name.address.sun_path + 1, sizeof name.address.sun_path - 1,
                                    "orvanel-capture/%u/%d", static_cast<unsigned>(uid), slot);
  name.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + written);
  return name;
}

UniqueFd SlotSocket(int flags = 0) { return UniqueFd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | flags, 0)); }

// Whether the name is held by a helper of uid: its socket listens, so the
// kernel tells who made it. The probe never waits: it stays queued at the
// holder, which never accepts, so a queue filled by others (thousands of
// starts) reads as not held.
bool HeldBy(const SlotName& name, uid_t uid) {
  const UniqueFd probe = SlotSocket(SOCK_NONBLOCK);
  if (!probe.valid() || connect(probe.get(), reinterpret_cast<const sockaddr*>(&name.address), name.length) != 0) {
    return false;
  }
  ucred owner{};
  socklen_t length = sizeof owner;
  return getsockopt(probe.get(), SOL_SOCKET, SO_PEERCRED, &owner, &length) == 0 && owner.uid == uid;
}

// The same, for a name another helper may have taken a moment ago and not
// yet listen on: a bound name is looked at again for a few milliseconds.
bool HeldOrBeingTakenBy(const SlotName& name, uid_t uid) {
  for (int look = 0; look < kLooksAtATakenName; ++look) {
    if (HeldBy(name, uid)) return true;
    const UniqueFd free = SlotSocket();
    if (free.valid() && bind(free.get(), reinterpret_cast<const sockaddr*>(&name.address), name.length) == 0) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;  // bound and never listening: not a helper's
}

// A free name of uid's, bound and listening, when fewer than the limit of
// its other names are held once it is; nothing otherwise.
UniqueFd TakeSlotWithinTheLimit(uid_t uid) {
  for (int slot = 0; slot < kNamesPerUser; ++slot) {
    const SlotName name = NameOf(uid, slot);
    UniqueFd taken = SlotSocket();
    if (!taken.valid()) return {};
    if (bind(taken.get(), reinterpret_cast<const sockaddr*>(&name.address), name.length) != 0) continue;
    if (listen(taken.get(), SOMAXCONN) != 0) return {};
    // Counted once this one is held: of two helpers starting at once, each
    // sees the other, so together they never pass the limit.
    int others = 0;
    for (int other = 0; other < kNamesPerUser; ++other) {
      if (other != slot && HeldOrBeingTakenBy(NameOf(uid, other), uid)) ++others;
    }
    return others < kCapturesPerUser ? std::move(taken) : UniqueFd();
  }
  return {};
}

}  // namespace

UniqueFd TakeCaptureSlot(uid_t uid) {
  // Helpers that started at once at the limit all give way; they try again
  // after pauses that differ, so that one of them gets the last slot.
  for (int attempt = 0;; ++attempt) {
    if (UniqueFd taken = TakeSlotWithinTheLimit(uid); taken.valid() || attempt == kAttempts - 1) return taken;
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + (getpid() + 5 * attempt) % 10));
  }
}

}  // namespace orvanel
