#include "session/pcap_file_source.h"

#include <algorithm>
#include <filesystem>
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

}  // namespace

PcapFileSource::PcapFileSource(const std::vector<std::string>& files) {
  for (const std::string& name : files) {
    // libpcap calls an empty file a truncated one
    std::error_code ignored;
    if (std::filesystem::is_regular_file(name, ignored) && std::filesystem::file_size(name, ignored) == 0) {
      error_ = name + ": the file is empty";
      break;
    }
    char message[PCAP_ERRBUF_SIZE] = "";
    File file{name, std::unique_ptr<pcap_t, PcapClose>(
                   pcap_open_offline_with_tstamp_precision(name.c_str(), PCAP_TSTAMP_PRECISION_NANO, message)),
              0};
    if (!file.handle) {
      // libpcap names the file in some messages and not in others
      error_ = std::string_view(message).starts_with(name) ? message : name + ": " + message;
      break;
    }
    file.linkType = pcap_datalink(file.handle.get());
    if (!IsSupportedLinkType(file.linkType)) {
      const char* linkName = pcap_datalink_val_to_name(file.linkType);
      error_ = name + ": link type " + (linkName ? linkName : std::to_string(file.linkType)) + " is not supported";
      break;
    }
    files_.push_back(std::move(file));
  }
  if (!error_.empty()) files_.clear();
}

ReceiveResult PcapFileSource::Receive(ReceiveBuffer&) {
  while (current_ < files_.size()) {
    File& file = files_[current_];
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* frame = nullptr;
    const int status = pcap_next_ex(file.handle.get(), &header, &frame);
    if (status == PCAP_ERROR_BREAK) {  // end of this file
      file.handle.reset();
      ++current_;
      continue;
    }
    if (status != 1) {
      error_ = file.name + ": " + pcap_geterr(file.handle.get());
      break;
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
