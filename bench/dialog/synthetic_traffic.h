// UDP datagrams made on the fly for the dialog benchmarks: 127.0.0.1 to itself
// (every one is listed once with the loopback filters), varying ports and a
// printable payload of fixed size.
#pragma once

#include <cstddef>

#include "capture/capture_loop.h"

namespace orvanel::bench {

inline constexpr std::size_t kSyntheticPayload = 64;

class SyntheticUdpSource final : public PacketSource {
 public:
  explicit SyntheticUdpSource(std::size_t count) : count_(count) {}
  ReceiveResult Receive(ReceiveBuffer& buffer) override;

 private:
  std::size_t count_;
  std::size_t next_ = 0;
};

// Runs the capture loop over count such datagrams with the UDP boxes of the
// Source and Destination groups ticked and 127.0.0.1 in both filters.
void ListSyntheticUdp(std::size_t count, PacketTable& table);

}  // namespace orvanel::bench
