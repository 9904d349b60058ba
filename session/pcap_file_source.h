// A packet source over capture files: the IPv4 datagrams of each frame, file
// after file, as one stream.
#pragma once

#include <pcap/pcap.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_loop.h"

namespace orvanel {

class PcapFileSource final : public PacketSource {
 public:
  // Opens every file, so that a bad one is found before anything is read;
  // Error() names the first that fails.
  explicit PcapFileSource(const std::vector<std::string>& files);

  // One datagram (cut to a buffer's size) per call, handed out in place;
  // Exhausted after the last file or at the first damage, which Error() then names.
  ReceiveResult Receive(ReceiveBuffer& buffer) override;

  const std::string& Error() const { return error_; }

 private:
  struct PcapClose {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
  };
  struct File {
    std::string name;
    std::unique_ptr<pcap_t, PcapClose> handle;
    int linkType;
  };

  std::vector<File> files_;
  std::size_t current_ = 0;
  std::string error_;
};

}  // namespace orvanel
