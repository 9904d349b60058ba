// The per-protocol files that keep the most recently listed packet.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "capture/last_packet_sink.h"
#include "capture/unique_fd.h"

namespace orvanel {

// The files in the dump directory, by protocol class (OTHER has none).
inline constexpr const char* kLastPacketFileNames[] = {"buf_TCP.txt", "buf_UDP.txt", "buf_ICMP.txt"};

class LastPacketFiles final : public LastPacketSink {
 public:
  // dumpDirectory may be of any length; the file names are appended after a
  // '/'. An empty text, or one with a NUL, names no directory: nothing is
  // written then.
  explicit LastPacketFiles(const std::string& dumpDirectory);
  ~LastPacketFiles() override;
  LastPacketFiles(const LastPacketFiles&) = delete;
  LastPacketFiles& operator=(const LastPacketFiles&) = delete;

  // Replaces the protocol's file with the packet's bytes: the total-length
  // field's count, at most the whole buffer. A file that cannot be opened or
  // written is skipped silently; links, non-regular files and other users'
  // files are never written. The files are the owner's alone (0600).
  // The directory and the files stay open between packets, so a packet costs
  // a name check and a write: each packet checks that the name still leads to
  // the open file, with one link, and opens it afresh when not. The directory
  // is looked up by its path again every 100 ms, so one removed, replaced or
  // mounted over (read-only, say) during a capture is followed within that.
  void SaveLastPacket(ProtocolClass protocol, const ReceiveBuffer& buffer, const IpHeaderView& view) override;

 private:
  struct OpenFile {
    UniqueFd fd;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
  };

  [[nodiscard]] bool StillOurs(int protocol) const;
  [[nodiscard]] bool Open(int protocol);
  void Close(int protocol);
  void CloseAll();

  std::string directory_;
  UniqueFd directoryFd_;
  std::int64_t directoryOpenedMs_ = 0;
  OpenFile files_[kProtocolClassCount - 1];  // OTHER has none
};

}  // namespace orvanel
