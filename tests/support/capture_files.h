// Capture files written the way capturing tools write them: libpcap for
// pcap, and by hand for pcapng, which libpcap reads but cannot write.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace orvanel::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Be16(std::uint16_t value) { return {std::uint8_t(value >> 8), std::uint8_t(value)}; }

// An Ethernet frame: two MAC addresses, any VLAN tags (TPID, TCI), the type.
inline Bytes Ethernet(const Bytes& payload, std::uint16_t type = 0x0800, std::vector<std::uint16_t> tags = {}) {
  Bytes frame = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
  for (std::uint16_t tpid : tags) frame = Concat({frame, Be16(tpid), Be16(0x0064)});
  return Concat({frame, Be16(type), payload});
}

inline Bytes CookedV1(const Bytes& payload, std::uint16_t protocol = 0x0800) {
  const Bytes header = {0, 0, 0, 1, 0, 6, 0x02, 0, 0, 0, 0, 1, 0, 0};  // type, ARPHRD, address length, address
  return Concat({header, Be16(protocol), payload});
}

inline Bytes CookedV2(const Bytes& payload, std::uint16_t protocol = 0x0800) {
  const Bytes rest = {0, 0, 0, 0, 0, 2, 0, 1, 4, 6, 0x02, 0, 0, 0, 0, 1, 0, 0};
  return Concat({Be16(protocol), rest, payload});
}

inline void WritePcap(const std::string& path, int linkType, const std::vector<Bytes>& frames) {
  pcap_t* dead = pcap_open_dead(linkType, 65535);
  pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    pcap_pkthdr header{};
    header.ts.tv_sec = 1700000000;
    header.ts.tv_usec = static_cast<suseconds_t>(i);
    header.caplen = header.len = static_cast<bpf_u_int32>(frames[i].size());
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frames[i].data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
}

inline Bytes Le32(std::uint32_t value) {
  return {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
}

// Section header, one interface, one enhanced packet block per frame.
inline void WritePcapng(const std::string& path, int linkType, const std::vector<Bytes>& frames) {
  Bytes file = Concat({Le32(0x0A0D0D0A),
                       Le32(28),
                       Le32(0x1A2B3C4D),
                       {1, 0, 0, 0},
                       {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
                       Le32(28)});
  file = Concat(
      {file, Le32(1), Le32(20), {std::uint8_t(linkType), std::uint8_t(linkType >> 8), 0, 0}, Le32(65535), Le32(20)});
  for (const Bytes& frame : frames) {
    Bytes data = frame;
    data.resize((data.size() + 3) / 4 * 4, 0);
    const auto length = static_cast<std::uint32_t>(32 + data.size());
    const auto size = static_cast<std::uint32_t>(frame.size());
    file = Concat({file, Le32(6), Le32(length), Le32(0), Le32(0), Le32(1), Le32(size), Le32(size), data, Le32(length)});
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

}  // namespace orvanel::test
