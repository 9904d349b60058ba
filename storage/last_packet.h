// The per-protocol files that keep the most recently listed packet.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/last_packet_sink.h"
#include "capture/unique_fd.h"

namespace orvanel {

// The files in the dump directory, by protocol class (OTHER has none).
inline constexpr const char* kLastPacketFileNames[] = {"buf_TCP.txt", "buf_UDP.txt", "buf_ICMP.txt"};

// Why a packet was not saved: the file it was for, and the errno.
struct SaveFailure {
  const char* file;  // one of kLastPacketFileNames
  int error;
};

// The packets the files could not take. One thread counts at a time (the
// one that saves) and tells the first failure, once, to whoever asked; any
// thread reads.
class SaveFailures {
 public:
  explicit SaveFailures(std::function<void(const SaveFailure&)> tellFirst = {}) : tellFirst_(std::move(tellFirst)) {}

  void Count(const SaveFailure& failure);
  [[nodiscard]] std::uint64_t Packets() const { return packets_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::optional<SaveFailure> First() const;

 private:
  std::function<void(const SaveFailure&)> tellFirst_;
  std::atomic<std::uint64_t> packets_{0};
  std::atomic<bool> hasFirst_{false};
  SaveFailure first_{};  // written once, before hasFirst_
};

// Why the files cannot go in dumpDirectory now, opened as they open it: its
// errno (ELOOP or ENOTDIR for a symbolic link on its path), or 0.
int DumpDirectoryError(const std::string& dumpDirectory);

class LastPacketFiles final : public LastPacketSink {
 public:
  // dumpDirectory may be of any length; the file names are appended after a
  // '/'. An empty text, or one with a NUL, names no directory: nothing is
  // written then. Packets that cannot be saved are counted in failures.
  explicit LastPacketFiles(const std::string& dumpDirectory, SaveFailures* failures = nullptr);
  ~LastPacketFiles() override;
  LastPacketFiles(const LastPacketFiles&) = delete;
  LastPacketFiles& operator=(const LastPacketFiles&) = delete;

  // Replaces the protocol's file with the packet's bytes: the total-length
  // field's count, at most the whole buffer. A packet whose file cannot be
  // opened or written is counted as a failure; a file written in part is
  // removed, as it holds no whole packet. Links, non-regular files and other
  // users' files are never written. The files are the owner's alone (0600).
  // The directory is opened following no symbolic link on its path.
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
  [[nodiscard]] int Open(int protocol);
  [[nodiscard]] int Write(int protocol, const std::uint8_t* data, off_t length);
  void Fail(int protocol, int error);
  void Close(int protocol);
  void CloseAll();

  std::string directory_;
  SaveFailures* const failures_;
  UniqueFd directoryFd_;
  std::int64_t directoryOpenedMs_ = 0;
  OpenFile files_[kProtocolClassCount - 1];  // OTHER has none
};

}  // namespace orvanel
