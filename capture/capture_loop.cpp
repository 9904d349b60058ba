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

class PacketHandler {
 public:
  explicit PacketHandler(const CaptureContext& context) : context_(context) {}

  void Handle(const ReceiveBuffer& buffer, const ReceiveResult& received) {
    const IpHeaderView view = DecodeHeader(buffer);
    const DottedAddress source = AddressText(view.SourceAddress());
    const DottedAddress destination = AddressText(view.DestinationAddress());
    const TrafficCase trafficCase =
        ClassifyAddresses(source.View(), destination.View(), context_.srcFilter, context_.dstFilter);
    CountInGroups(context_.counters, trafficCase, view.Protocol(), view.TotalLength());
    const ProtocolClass protocol = ClassOfProtocol(view.Protocol());
    if (protocol == ProtocolClass::OTHER) return;
    const Packet packet{buffer, view, received, protocol};
    ChooseRows(trafficCase, packet);
  }

 private:
  struct Packet {
    const ReceiveBuffer& buffer;
    const IpHeaderView& view;
    const ReceiveResult& received;
    ProtocolClass protocol;
  };

  // At most one row while the boxes stay still; in case Both the source boxes
  // are read again after the destination boxes, as the user may flip them.
  void ChooseRows(TrafficCase trafficCase, const Packet& packet) {
    const CaptureOptions& options = context_.options;
    switch (trafficCase) {
      case TrafficCase::Both:
        if (GroupWants(options, kSourceBoxes, packet.protocol)) AddRow(packet);
        if (GroupWants(options, kDestinationBoxes, packet.protocol) &&
            !GroupWants(options, kSourceBoxes, packet.protocol)) {
          AddRow(packet);
        }
        break;
      case TrafficCase::SourceOnly:
        if (GroupWants(options, kSourceBoxes, packet.protocol)) AddRow(packet);
        break;
      case TrafficCase::DestinationOnly:
        if (GroupWants(options, kDestinationBoxes, packet.protocol)) AddRow(packet);
        break;
      case TrafficCase::Neither:
        if (GroupWants(options, kOtherBoxes, packet.protocol)) AddRow(packet);
        break;
    }
  }

  void AddRow(const Packet& packet) {
    context_.table.AddRow(
        ListedRowOf(packet.view, {packet.buffer.data(), packet.received.length}, packet.received.captureTimeNs));
    if (context_.options.State(CaptureOption::SaveLast) == kChecked && context_.lastPacketFiles) {
      context_.lastPacketFiles->SaveLastPacket(packet.protocol, packet.buffer, packet.view);
    }
  }

  const CaptureContext& context_;
};

// Zeroes the first length bytes in whole 64-byte blocks: a memset of a
// variable length becomes "rep stos", which is slow to start for the short
// datagrams most receives bring.
void ZeroFront(ReceiveBuffer& buffer, std::size_t length) {
  constexpr std::size_t kBlock = 64;
  static_assert(kReceiveBufferSize % kBlock == 0);
  for (std::size_t offset = 0; offset < length; offset += kBlock) std::memset(buffer.data() + offset, 0, kBlock);
}

}  // namespace

int CaptureThreadProc(const CaptureContext& context) {
  PacketHandler handler(context);
  ReceiveBuffer buffer;
  buffer.fill(0);
  std::size_t written = 0;  // bytes the last receive may have left non-zero
  while (context.bCapturing.load(std::memory_order_acquire)) {
    ZeroFront(buffer, written);
    ReceiveResult result = context.source.Receive(buffer);
    written = result.status == ReceiveStatus::Packet ? std::min(result.length, buffer.size()) : buffer.size();
    result.length = written;
    switch (result.status) {
      case ReceiveStatus::Packet:
        handler.Handle(buffer, result);
        break;
      case ReceiveStatus::Failed:
        context.counters.CountReceiveError();
        break;
      case ReceiveStatus::Woken:
        break;
      case ReceiveStatus::Exhausted:
        return 0;
    }
  }
  return 0;
}

}  // namespace orvanel
