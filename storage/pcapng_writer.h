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

  // The errno of the first write that failed, 0 while none did; nothing is
  // written after it.
  [[nodiscard]] int Error() const { return error_; }

 private:
  void Write(const void* data, std::size_t length);

  std::FILE* out_;
  int error_ = 0;
};

}  // namespace orvanel
