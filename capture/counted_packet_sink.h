// Where the capture loop hands every packet it counts, decoded: the
// conversation table in this process, or a ring towards it from the socket
// helper.
#pragma once

#include "capture/listed_row.h"
#include "capture/packet_decode.h"

namespace orvanel {

class CountedPacketSink {
 public:
  virtual ~CountedPacketSink() = default;
  virtual void Count(const IpHeaderView& view, const ListedRow& row) = 0;
};

}  // namespace orvanel
