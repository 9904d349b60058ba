// A packet source over capture files: the IPv4 datagrams of each frame, file
// after file, as one stream. Files compressed with gzip, zstd, lz4 or xz are
// read as their decompressed bytes.
#pragma once

#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_loop.h"
#include "session/decompressed_file.h"

namespace orvanel {

// Why a capture file could not be read (to its end).
struct CaptureFileError {
  enum class Kind {
    CannotOpen,           // systemError says why
    Empty,                // no bytes at all
    NotACaptureFile,      // neither pcap nor pcapng
    UnsupportedLinkType,  // detail: the link type's name
    Truncated,            // cut short in a header or a frame
    Damaged,              // detail: libpcap's text
  };
  Kind kind;
  std::string file;
  std::string detail;
  int systemError = 0;

  // "FILE: reason", as orvanel-cli says it.
  [[nodiscard]] std::string Text() const;
};

class PcapFileSource final : public PacketSource {
 public:
  // Opens every file, so that a bad one is found before anything is read;
  // Failure() names the first that fails.
  explicit PcapFileSource(const std::vector<std::string>& files);
  PcapFileSource(const PcapFileSource&) = delete;
  PcapFileSource& operator=(const PcapFileSource&) = delete;

  // One datagram (cut to a buffer's size) per call, handed out in place;
  // Exhausted after the last file or at the first damage, which Failure() then names.
  ReceiveResult Receive(ReceiveBuffer& buffer) override;

  [[nodiscard]] const std::optional<CaptureFileError>& Failure() const { return failure_; }

  // The files' bytes read so far (compressed bytes for a compressed file), of their sizes together (0 when a size is
  // unknown, as for a pipe); any thread may ask.
  [[nodiscard]] std::uint64_t BytesRead() const { return bytesRead_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::uint64_t TotalBytes() const { return totalBytes_; }

 private:
  struct PcapClose {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
  };
  struct File {
    std::string name;
    std::unique_ptr<pcap_t, PcapClose> handle;
    int linkType;
    std::uint64_t size;
    const DecompressedFile* compressed;  // owned by handle's stream; null for a plain file
  };

  void Fail(CaptureFileError::Kind kind, const std::string& file, std::string detail, int systemError = 0);
  void NoteBytesRead(const File& file);
  void FailReading(const File& file, const std::string& libpcapMessage);

  std::vector<File> files_;
  std::size_t current_ = 0;
  std::uint64_t bytesBefore_ = 0;  // the sizes of the files before the current one
  std::uint32_t packetsSinceNote_ = 0;
  std::atomic<std::uint64_t> bytesRead_{0};
  std::uint64_t totalBytes_ = 0;
  std::optional<CaptureFileError> failure_;
};

}  // namespace orvanel
