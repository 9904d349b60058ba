// A recorded-looking set of datagrams held in memory, and the cheap source
// and table the benchmarks drive the loop with.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "capture/listed_row.h"
#include "capture/packet_source.h"

namespace orvanel::bench {

// The filters half of the traffic matches (by source, destination or both).
inline constexpr std::string_view kLocalPrefix = "192.168.1.";

// Datagrams back to back, with where each ends.
struct RecordedTraffic {
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> ends;
};

// count datagrams: TCP, UDP, ICMP and other protocols mixed; half to or from
// kLocalPrefix addresses, half between other hosts. Same seed, same traffic.
RecordedTraffic MakeRecordedTraffic(std::size_t count);
// count datagrams of the loopback floods: UDP from one port of 127.0.0.1 to
// another, 64-byte payloads.
RecordedTraffic MakeFloodTraffic(std::size_t count);

// Hands out each datagram once (a memcpy into the buffer), then Exhausted.
class ReplaySource final : public PacketSource {
 public:
  explicit ReplaySource(const RecordedTraffic& traffic) : traffic_(traffic) {}
  ReceiveResult Receive(ReceiveBuffer& buffer) override;
  void Rewind() { next_ = 0; }

 private:
  const RecordedTraffic& traffic_;
  std::size_t next_ = 0;
};

// Keeps every text of every row back to back, as a compact table would; the
// addresses are inet_ntop's texts, the others those the dialog shows.
class TextTable final : public PacketTable {
 public:
  void AddRow(const ListedRow& row) override;
  [[nodiscard]] std::size_t Rows() const { return rows_; }
  void Clear();  // keeps the memory, so a second pass does not grow it

 private:
  std::vector<char> texts_;
  std::vector<std::uint32_t> ends_;
  std::size_t rows_ = 0;
};

}  // namespace orvanel::bench
