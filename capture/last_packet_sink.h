// Where the capture loop keeps the last listed packet of each protocol; the
// files themselves are storage's.
#pragma once

#include "capture/packet_decode.h"
#include "capture/packet_source.h"
#include "capture/protocol.h"

namespace orvanel {

class LastPacketSink {
 public:
  virtual ~LastPacketSink() = default;
  virtual void SaveLastPacket(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view) = 0;
};

}  // namespace orvanel
