// Listed datagrams as a pcapng file: one section, one interface of link type
// IPv4 (raw datagrams) with nanosecond times, one enhanced packet block each.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "capture/listed_row.h"

namespace orvanel {

class PcapngWriter final : public PacketTable {
 public:
  // Writes the section and interface blocks at once; out stays the caller's.
  explicit PcapngWriter(std::FILE* out);

  void AddRow(const ListedRow& row) override;
  void WritePacket(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs);

  // False once any write failed.
  [[nodiscard]] bool Ok() const { return std::ferror(out_) == 0; }

 private:
  std::FILE* out_;
};

}  // namespace orvanel
