#include "session/pcap_file_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "session/link_layer.h"

namespace orvanel {
namespace {

// The times are in nanoseconds, as the file was opened. A file may say any
// time, far past what 64 bits of nanoseconds hold: such a time stays at the
// end of the range instead of wrapping.
std::int64_t NanosecondsOf(const timeval& time) {
  std::int64_t nanoseconds = 0;
  if (__builtin_mul_overflow(std::int64_t{time.tv_sec}, std::int64_t{1'000'000'000}, &nanoseconds) ||
      __builtin_add_overflow(nanoseconds, std::int64_t{time.tv_usec}, &nanoseconds)) {
    return time.tv_sec < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  }
  return nanoseconds;
}

constexpr const char* kCutShort = "truncated compressed file";

// How often the position in the file is noted for BytesRead.
constexpr std::uint32_t kPacketsPerProgressNote = 1024;

CaptureFileError::Kind KindOfLibpcapMessage(std::string_view message) {
  if (message.find("unknown file format") != std::string_view::npos) return CaptureFileError::Kind::NotACaptureFile;
  if (message.find("truncated") != std::string_view::npos) return CaptureFileError::Kind::Truncated;
  return CaptureFileError::Kind::Damaged;
}

}  // namespace

std::string CaptureFileError::Text() const {
  switch (kind) {
    case Kind::CannotOpen: return file + ": " + std::strerror(systemError);
    case Kind::Empty: return file + ": the file is empty";
    case Kind::UnsupportedLinkType: return file + ": link type " + detail + " is not supported";
    case Kind::NotACaptureFile:
    case Kind::Truncated:
    case Kind::Damaged: break;
  }
  return file + ": " + detail;
}

PcapFileSource::PcapFileSource(const std::vector<std::string>& files) {
  bool sizesKnown = true;
  for (const std::string& name : files) {
    std::FILE* stream = std::fopen(name.c_str(), "rb");
    if (!stream) {
      Fail(CaptureFileError::Kind::CannotOpen, name, {}, errno);
      break;
    }
    struct stat status {};
    if (fstat(fileno(stream), &status) != 0 || S_ISDIR(status.st_mode)) {
      Fail(CaptureFileError::Kind::CannotOpen, name, {}, S_ISDIR(status.st_mode) ? EISDIR : errno);
      std::fclose(stream);
      break;
    }
    // libpcap would call an empty file a truncated one
    if (S_ISREG(status.st_mode) && status.st_size == 0) {
      Fail(CaptureFileError::Kind::Empty, name, {});
      std::fclose(stream);
      break;
    }
    sizesKnown = sizesKnown && S_ISREG(status.st_mode);
    std::unique_ptr<DecompressedFile> decompressed = DecompressedFile::Open(stream);
    if (decompressed) {
      std::FILE* decoded = decompressed->Release();
      if (!decoded) {
        Fail(CaptureFileError::Kind::CannotOpen, name, {}, errno);
        break;  // decompressed closes the file
      }
      stream = decoded;
    }
    const DecompressedFile* compressed = decompressed.release();  // the stream owns it now
    char message[PCAP_ERRBUF_SIZE] = "";
    File file{name,
              std::unique_ptr<pcap_t, PcapClose>(
                  pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, message)),
              0, S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0, compressed};
    if (!file.handle) {  // it closes the stream only once it has taken it
      FailReading(file, message);
      std::fclose(stream);
      break;
    }
    file.linkType = pcap_datalink(file.handle.get());
    if (!IsSupportedLinkType(file.linkType)) {
      const char* linkName = pcap_datalink_val_to_name(file.linkType);
      Fail(CaptureFileError::Kind::UnsupportedLinkType, name, linkName ? linkName : std::to_string(file.linkType));
      break;
    }
    totalBytes_ += file.size;
    files_.push_back(std::move(file));
  }
  if (failure_) files_.clear();
  if (!sizesKnown) totalBytes_ = 0;
}

void PcapFileSource::Fail(CaptureFileError::Kind kind, const std::string& file, std::string detail, int systemError) {
  failure_ = CaptureFileError{kind, file, std::move(detail), systemError};
}

// libpcap's complaint, unless decompressing failed under it.
void PcapFileSource::FailReading(const File& file, const std::string& libpcapMessage) {
  if (file.compressed && !file.compressed->Error().empty()) {
    Fail(CaptureFileError::Kind::Damaged, file.name, file.compressed->Error());
  } else if (file.compressed && file.compressed->CutShort()) {
    Fail(CaptureFileError::Kind::Truncated, file.name, kCutShort);
  } else {
    Fail(KindOfLibpcapMessage(libpcapMessage), file.name, libpcapMessage);
  }
}

void PcapFileSource::NoteBytesRead(const File& file) {
  if (file.compressed) {
    bytesRead_.store(bytesBefore_ + file.compressed->BytesRead(), std::memory_order_relaxed);
    return;
  }
  const long position = std::ftell(pcap_file(file.handle.get()));
  if (position >= 0) bytesRead_.store(bytesBefore_ + static_cast<std::uint64_t>(position), std::memory_order_relaxed);
}

ReceiveResult PcapFileSource::Receive(ReceiveBuffer&) {
  while (current_ < files_.size()) {
    File& file = files_[current_];
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* frame = nullptr;
    const int status = pcap_next_ex(file.handle.get(), &header, &frame);
    if (status == PCAP_ERROR_BREAK && file.compressed && file.compressed->CutShort()) {
      // The decompressed bytes ended between two frames, the compressed data within a stream.
      Fail(CaptureFileError::Kind::Truncated, file.name, kCutShort);
      break;
    }
    if (status == PCAP_ERROR_BREAK) {  // end of this file
      bytesBefore_ += file.size;
      bytesRead_.store(bytesBefore_, std::memory_order_relaxed);
      file.handle.reset();
      ++current_;
      continue;
    }
    if (status != 1) {
      FailReading(file, pcap_geterr(file.handle.get()));
      break;
    }
    if (++packetsSinceNote_ == kPacketsPerProgressNote) {
      packetsSinceNote_ = 0;
      NoteBytesRead(file);
    }
    const auto datagram = DatagramOf(file.linkType, {frame, header->caplen});
    if (!datagram || datagram->empty()) continue;  // no IPv4 datagram: the live socket never sees it
    // Handed out where libpcap holds it, which lasts until the next read.
    const std::size_t length = std::min(datagram->size(), kReceiveBufferSize);
    return {ReceiveStatus::Packet, length, NanosecondsOf(header->ts), datagram->data()};
  }
  files_.clear();
  return {ReceiveStatus::Exhausted, 0};
}

}  // namespace orvanel
