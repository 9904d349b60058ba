#include "session/row_match.h"

#include <algorithm>
#include <string_view>

#include "capture/listed_row.h"
#include "capture/packet_row.h"

namespace orvanel {
namespace {

constexpr int kLinkTypeIpv4 = 228;  // LINKTYPE_IPV4: the datagram with nothing before it
constexpr int kSnapLength = 65535;

}  // namespace

std::unique_ptr<RowMatcher> RowMatcher::ForExpression(const std::string& expression, std::string& error) {
  pcap_t* dead = pcap_open_dead(kLinkTypeIpv4, kSnapLength);
  if (!dead) {
    error = "libpcap could not be started";
    return nullptr;
  }
  std::unique_ptr<RowMatcher> matcher(new RowMatcher);
  if (pcap_compile(dead, &matcher->program_, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
    error = pcap_geterr(dead);
    pcap_close(dead);
    return nullptr;
  }
  pcap_close(dead);
  matcher->isExpression_ = true;
  return matcher;
}

std::unique_ptr<RowMatcher> RowMatcher::ForPayload(std::vector<std::string> needles) {
  needles.erase(std::remove_if(needles.begin(), needles.end(), [](const std::string& n) { return n.empty(); }),
                needles.end());
  if (needles.empty()) return nullptr;
  std::unique_ptr<RowMatcher> matcher(new RowMatcher);
  matcher->needles_ = std::move(needles);
  return matcher;
}

RowMatcher::~RowMatcher() {
  if (isExpression_) pcap_freecode(&program_);
}

bool RowMatcher::Matches(std::span<const std::uint8_t> datagram) const {
  if (isExpression_) {
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(datagram.size());
    // len is the datagram's length as its header says and the length column
    // shows it: the stored bytes may be cut short, or padded by the link.
    header.len = datagram.size() >= 4 ? bpf_u_int32{datagram[2]} << 8 | datagram[3] : header.caplen;
    return pcap_offline_filter(&program_, &header, datagram.data()) != 0;
  }
  // Text the datagram does not hold anywhere is not in its payload column either.
  const std::string_view bytes(reinterpret_cast<const char*>(datagram.data()), datagram.size());
  if (std::none_of(needles_.begin(), needles_.end(),
                   [bytes](const std::string& needle) { return bytes.find(needle) != std::string_view::npos; })) {
    return false;
  }
  PacketRow texts;
  BuildPacketRow(ListedRowOf(datagram, 0), texts);
  const std::string_view payload = texts.columns[kPacketColumnCount - 1];
  return std::any_of(needles_.begin(), needles_.end(),
                     [payload](const std::string& needle) { return payload.find(needle) != std::string_view::npos; });
}

}  // namespace orvanel
