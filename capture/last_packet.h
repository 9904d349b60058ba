// The per-protocol files that keep the most recently listed packet.
#pragma once

#include <string>

#include "capture.h"
#include "packet_decode.h"

namespace orvanel {

class LastPacketFiles {
 public:
  // dumpDirectory may be of any length; the file names are appended after a
  // '/'. An empty text, or one with a NUL, names no directory: nothing is
  // written then.
  explicit LastPacketFiles(const std::string& dumpDirectory);

  // Replaces the protocol's file with the packet's bytes: the total-length
  // field's count, at most the whole buffer. A file that cannot be opened or
  // written is skipped silently; links and non-regular files are never written.
  void SaveLastPacket(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view) const;

  // The file of a protocol; empty for OTHER, which has none.
  const std::string& PathOf(ProtocolClass protocol) const;

 private:
  std::string directory_;
  std::string paths_[kProtocolClassCount];  // TCP, UDP, ICMP, OTHER (none)
};

}  // namespace orvanel
