#include "bench/core/peer_loop.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "capture/classify.h"
#include "capture/packet_decode.h"

namespace orvanel::bench {
namespace {

std::string_view NtopText(std::uint32_t address, char (&text)[INET_ADDRSTRLEN]) {
  const in_addr value{address};
  inet_ntop(AF_INET, &value, text, sizeof text);
  return text;
}

bool Ticked(const CaptureOptions& options, CaptureOption box) { return options.State(box) != kUnchecked; }

CaptureOption Box(CaptureOption tcpBox, ProtocolClass protocol) {
  return static_cast<CaptureOption>(static_cast<int>(tcpBox) + static_cast<int>(protocol));
}

}  // namespace

// The same steps and box reads as CaptureThreadProc; only the texts differ.
int PeerThreadProc(const CaptureContext& context) {
  using enum CaptureOption;
  ReceiveBuffer buffer{};
  std::size_t written = 0;
  while (context.bCapturing.load(std::memory_order_acquire)) {
    for (std::size_t offset = 0; offset < written; offset += 64) std::memset(buffer.data() + offset, 0, 64);
    const ReceiveResult result = context.source.Receive(buffer);
    if (result.status == ReceiveStatus::Exhausted) return 0;
    written = result.status == ReceiveStatus::Packet ? std::min(result.length, buffer.size()) : buffer.size();
    if (result.status == ReceiveStatus::Failed) context.counters.CountReceiveError();
    if (result.status != ReceiveStatus::Packet) continue;
    const IpHeaderView view = DecodeHeader(buffer);
    char sourceBuffer[INET_ADDRSTRLEN], destinationBuffer[INET_ADDRSTRLEN];
    const std::string_view source = NtopText(view.SourceAddress(), sourceBuffer);
    const std::string_view destination = NtopText(view.DestinationAddress(), destinationBuffer);
    const TrafficCase trafficCase = ClassifyAddresses(source, destination, context.srcFilter, context.dstFilter);
    CountInGroups(context.counters, trafficCase, view.Protocol());
    const ProtocolClass protocol = ClassOfProtocol(view.Protocol());
    if (protocol == ProtocolClass::OTHER) continue;
    const CaptureOptions& options = context.options;
    auto wants = [&](CaptureOption enable, CaptureOption tcpBox) {
      return Ticked(options, enable) && Ticked(options, Box(tcpBox, protocol));
    };
    auto addRow = [&] {
      context.table.AddRow(ListedRowOf({buffer.data(), written}, result.captureTimeNs));
      if (options.State(SaveLast) == kChecked && context.lastPacketFiles) {
        context.lastPacketFiles->SaveLastPacket(protocol, buffer, view);
      }
    };
    switch (trafficCase) {
      case TrafficCase::Both:
        if (wants(SourceEnable, SourceTCP)) addRow();
        if (wants(DestinationEnable, DestinationTCP) && !wants(SourceEnable, SourceTCP)) addRow();
        break;
      case TrafficCase::SourceOnly:
        if (wants(SourceEnable, SourceTCP)) addRow();
        break;
      case TrafficCase::DestinationOnly:
        if (wants(DestinationEnable, DestinationTCP)) addRow();
        break;
      case TrafficCase::Neither:
        if (wants(OtherEnable, OtherTCP)) addRow();
        break;
    }
  }
  return 0;
}

}  // namespace orvanel::bench
