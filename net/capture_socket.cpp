#include "net/capture_socket.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "capture/packet_source.h"
#include "net/local_addresses.h"
#include "net/ring_layout.h"

namespace orvanel {
namespace {

template <typename T>
bool SetOption(int fd, int level, int name, const T& value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool BindToInterface(int fd, unsigned interfaceIndex) {
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(ETH_P_ALL);  // ETH_P_IP would miss what the machine sends
  address.sll_ifindex = static_cast<int>(interfaceIndex);
  return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// Takes IPv4 datagrams only, each up to its total-length field (link padding
// is not part of the datagram) and at most a receive buffer. A field too short
// for a header, or a datagram too short to hold the field, leaves the length
// as received, as a capture file's reader does. The filter is locked: whoever
// receives the socket from the helper cannot detach or replace it.
bool AcceptOnlyIPv4(int fd) {
  constexpr __u32 kMinimumHeader = 20;
  constexpr __u32 kBuffer = kReceiveBufferSize;
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PROTOCOL)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 7),
      BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 4, 0, 3),
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 2),  // the total-length field
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kMinimumHeader, 0, 1),
      BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, kBuffer, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, kBuffer),
      BPF_STMT(BPF_RET | BPF_A, 0),
      BPF_STMT(BPF_RET | BPF_K, 0),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
  return SetOption(fd, SOL_SOCKET, SO_ATTACH_FILTER, program) && SetOption(fd, SOL_SOCKET, SO_LOCK_FILTER, 1);
}

// The ring comes last: setting it up discards whatever queued before the
// filter was in place.
bool SetUpRing(int fd) {
  tpacket_req3 ring{};
  ring.tp_block_size = kRingBlockSize;
  ring.tp_block_nr = kRingBlockCount;
  ring.tp_frame_size = kRingFrameSize;
  ring.tp_frame_nr = kRingBlockSize / kRingFrameSize * kRingBlockCount;
  ring.tp_retire_blk_tov = kRingBlockTimeoutMs;
  return SetOption(fd, SOL_PACKET, PACKET_VERSION, int{TPACKET_V3}) && SetOption(fd, SOL_PACKET, PACKET_RX_RING, ring);
}

bool ReceiveAll(int fd, const LocalAddress& address) {
  packet_mreq membership{};
  membership.mr_ifindex = static_cast<int>(address.interfaceIndex);
  membership.mr_type = PACKET_MR_PROMISC;
  if (!SetOption(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, membership)) return false;
  if (!AcceptOnlyIPv4(fd)) return false;
  // Loopback hands every packet to taps twice, once sent and once received.
  if (address.loopback && !SetOption(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, 1)) return false;
  return SetUpRing(fd);
}

// errno still holds why the step's call failed; steps without a call pass 0.
CaptureSocket Fail(StartResult result, int error = errno) { return {result, UniqueFd(), error}; }

}  // namespace

CaptureSocket OpenCaptureSocket(const std::string& chosenAddress) {
  // Protocol 0: nothing queues until the socket is bound to one interface.
  UniqueFd socket(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return Fail(StartResult::SocketCreationFailed);
  // A packet socket hands over the IPv4 header as it is: no header option to set.
  const auto addresses = QueryLocalAddresses();
  if (!addresses) return Fail(StartResult::AddressListFailed);
  if (addresses->empty()) return Fail(StartResult::AddressListEmpty, 0);
  const auto chosen = std::find_if(addresses->begin(), addresses->end(),
                                   [&](const LocalAddress& address) { return address.text == chosenAddress; });
  if (chosen == addresses->end()) return Fail(StartResult::NoAddressChosen, 0);
  if (!BindToInterface(socket.get(), chosen->interfaceIndex)) return Fail(StartResult::BindFailed);
  if (!ReceiveAll(socket.get(), *chosen)) return Fail(StartResult::ReceiveModeFailed);
  return {StartResult::Started, std::move(socket)};
}

}  // namespace orvanel
