#include "net/capture_slots.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdio>

#include "net/start_result.h"

namespace orvanel {
namespace {

// Abstract names have no owner: another user may hold some of a user's
// names to keep the user out. Names held by others are passed over, up to
// this many in all.
constexpr int kNamesPerUser = 64;

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

}  // namespace

UniqueFd TakeCaptureSlot(uid_t uid) {
  int held = 0;
  for (int slot = 0; slot < kNamesPerUser && held < kCapturesPerUser; ++slot) {
    const SlotName name = NameOf(uid, slot);
    UniqueFd taken = SlotSocket();
    if (!taken.valid()) return {};
    if (bind(taken.get(), reinterpret_cast<const sockaddr*>(&name.address), name.length) == 0) {
      if (listen(taken.get(), SOMAXCONN) != 0) return {};
      return taken;
    }
    if (HeldBy(name, uid)) ++held;
  }
  return {};
}

}  // namespace orvanel
