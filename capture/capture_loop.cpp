#include "capture/capture_loop.h"

#include <algorithm>
#include <cstring>

#include "capture/address_text.h"
#include "capture/classify.h"
#include "capture/packet_decode.h"

namespace orvanel {
namespace {

// Reads the enable box, then (only if ticked) the group's box for the protocol.
bool GroupWants(const CaptureOptions& options, GroupBoxes boxes, ProtocolClass protocol) {
  return options.State(boxes.enable) != kUnchecked && options.State(ProtocolBox(boxes, protocol)) != kUnchecked;
}

// Zeroes the first length bytes in whole 64-byte blocks: a memset of a
// variable length becomes "rep stos", which is slow to start for the short
// datagrams most receives bring.
void ZeroFront(ReceiveBuffer& buffer, std::size_t length) {
  constexpr std::size_t kBlock = 64;
  static_assert(kReceiveBufferSize % kBlock == 0);
  for (std::size_t offset = 0; offset < length; offset += kBlock) std::memset(buffer.data() + offset, 0, kBlock);
}

class PacketHandler {
 public:
  explicit PacketHandler(const CaptureContext& context) : context_(context) { buffer_.fill(0); }

  // A source that holds the datagram in place leaves the buffer zero; one
  // that writes it there gets it zeroed again before the next receive.
  ReceiveResult Receive() {
    ZeroFront(buffer_, written_);
    ReceiveResult result = context_.source.Receive(buffer_);
    result.length = std::min(result.length, buffer_.size());
    const bool inBuffer = result.status == ReceiveStatus::Packet && !result.inPlace;
    written_ = inBuffer ? result.length : result.status == ReceiveStatus::Packet ? 0 : buffer_.size();
    return result;
  }

  // Decoded where it lies: every read is bounded by the datagram's length,
  // and what lies past it reads as zero.
  void Handle(const ReceiveResult& received) {
    const std::span<const std::uint8_t> datagram{received.inPlace ? received.inPlace : buffer_.data(), received.length};
    const IpHeaderView view = DecodeHeader(datagram);
    const TrafficCase trafficCase = Classify(view);
    CountInGroups(context_.counters, trafficCase, view.Protocol(), view.TotalLength());
    const ListedRow row = ListedRowOf(view, datagram, received.captureTimeNs);
    if (context_.conversations) context_.conversations->Count(view, row);
    if (row.protocol == ProtocolClass::OTHER) return;
    ChooseRows(trafficCase, {datagram, view, row});
  }

 private:
  struct Packet {
    std::span<const std::uint8_t> datagram;
    const IpHeaderView& view;
    const ListedRow& row;
  };

  // An empty filter matches every address, so with both empty (the cli's
  // default) no address text needs making.
  [[nodiscard]] TrafficCase Classify(const IpHeaderView& view) const {
    if (context_.srcFilter.empty() && context_.dstFilter.empty()) return TrafficCase::Both;
    const DottedAddress source = AddressText(view.SourceAddress());
    const DottedAddress destination = AddressText(view.DestinationAddress());
    return ClassifyAddresses(source.View(), destination.View(), context_.srcFilter, context_.dstFilter);
  }

  // At most one row while the boxes stay still; in case Both the source boxes
  // are read again after the destination boxes, as the user may flip them.
  void ChooseRows(TrafficCase trafficCase, const Packet& packet) {
    const CaptureOptions& options = context_.options;
    switch (trafficCase) {
      case TrafficCase::Both:
        if (GroupWants(options, kSourceBoxes, packet.row.protocol)) AddRow(packet);
        if (GroupWants(options, kDestinationBoxes, packet.row.protocol) &&
            !GroupWants(options, kSourceBoxes, packet.row.protocol)) {
          AddRow(packet);
        }
        break;
      case TrafficCase::SourceOnly:
        if (GroupWants(options, kSourceBoxes, packet.row.protocol)) AddRow(packet);
        break;
      case TrafficCase::DestinationOnly:
        if (GroupWants(options, kDestinationBoxes, packet.row.protocol)) AddRow(packet);
        break;
      case TrafficCase::Neither:
        if (GroupWants(options, kOtherBoxes, packet.row.protocol)) AddRow(packet);
        break;
    }
  }

  void AddRow(const Packet& packet) {
    context_.table.AddRow(packet.row);
    if (context_.options.State(CaptureOption::SaveLast) == kChecked && context_.lastPacketFiles) {
      context_.lastPacketFiles->SaveLastPacket(packet.row.protocol, ZeroPadded(packet.datagram), packet.view);
    }
  }

  // The last-packet files take the datagram in a zero-filled buffer; one in
  // place is copied there only for them.
  const ReceiveBuffer& ZeroPadded(std::span<const std::uint8_t> datagram) {
    if (datagram.data() != buffer_.data() && !datagram.empty()) {
      std::memcpy(buffer_.data(), datagram.data(), datagram.size());
      written_ = datagram.size();
    }
    return buffer_;
  }

  const CaptureContext& context_;
  ReceiveBuffer buffer_;
  std::size_t written_ = 0;  // bytes the last receive (or copy) may have left non-zero
};

}  // namespace

int CaptureThreadProc(const CaptureContext& context) {
  PacketHandler handler(context);
  while (context.bCapturing.load(std::memory_order_acquire)) {
    const ReceiveResult result = handler.Receive();
    switch (result.status) {
      case ReceiveStatus::Packet: handler.Handle(result); break;
      case ReceiveStatus::Failed: context.counters.CountReceiveError(); break;
      case ReceiveStatus::Woken: break;
      case ReceiveStatus::Exhausted: return 0;
    }
  }
  return 0;
}

}  // namespace orvanel
