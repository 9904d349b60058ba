#include "capture/listed_row.h"

#include "capture/packet_decode.h"

namespace orvanel {
namespace {

// The port fields of TCP and UDP when the header has no options; read there whatever the header says.
constexpr int kSourcePortOffset = 20;
constexpr int kDestinationPortOffset = 22;

}  // namespace

ListedRow ListedRowOf(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  return ListedRowOf(DecodeHeader(datagram), datagram, captureTimeNs);
}

ListedRow ListedRowOf(const IpHeaderView& view, std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  return {ClassOfProtocol(view.Protocol()),
          view.SourceAddress(),
          view.DestinationAddress(),
          view.Field16(kSourcePortOffset),
          view.Field16(kDestinationPortOffset),
          view.TotalLength(),
          datagram,
          captureTimeNs};
}

}  // namespace orvanel
