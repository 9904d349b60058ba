#include "bench/core/recorded_traffic.h"

#include <arpa/inet.h>

#include <cstring>
#include <random>

#include "capture/packet_row.h"

namespace orvanel::bench {
namespace {

std::uint8_t RandomOctet(std::mt19937& random) { return static_cast<std::uint8_t>(random()); }

void AppendDatagram(RecordedTraffic& traffic, std::mt19937& random, std::size_t index) {
  static constexpr std::uint8_t kProtocols[] = {kProtocolTCP,
                                                kProtocolTCP,
                                                kProtocolTCP,
                                                kProtocolTCP,
                                                kProtocolUDP,
                                                kProtocolUDP,
                                                kProtocolUDP,
                                                kProtocolICMP,
                                                kProtocolICMP,
                                                2,
                                                47};
  const std::uint8_t protocol = kProtocols[random() % std::size(kProtocols)];
  const std::size_t transport = protocol == kProtocolTCP ? 20 : 8;
  const std::size_t payload = random() % 4 == 0 ? 0 : random() % 120;
  const std::size_t length = 20 + transport + payload;

  std::uint8_t header[40] = {0x45, 0, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
  header[8] = 64;
  header[9] = protocol;
  if (protocol == kProtocolTCP) header[32] = 0x50;                // a 20-byte TCP header
  for (int i = 12; i < 24; ++i) header[i] = RandomOctet(random);  // addresses and ports
  if (index % 2 == 0) {                                           // a local host is the source, the destination or both
    std::uint8_t* local = header + (random() % 3 == 0 ? 16 : 12);
    local[0] = 192, local[1] = 168, local[2] = 1;
    if (random() % 3 == 0) std::memcpy(header + 16, header + 12, 3);
  } else {
    header[12] = header[16] = 10;  // never 192.168.1.x
  }
  traffic.bytes.insert(traffic.bytes.end(), header, header + 20 + transport);
  for (std::size_t i = 0; i < payload; ++i) traffic.bytes.push_back(static_cast<std::uint8_t>(' ' + random() % 95));
  traffic.ends.push_back(static_cast<std::uint32_t>(traffic.bytes.size()));
}

}  // namespace

RecordedTraffic MakeRecordedTraffic(std::size_t count) {
  std::mt19937 random(2048);
  RecordedTraffic traffic;
  traffic.bytes.reserve(count * 100);
  traffic.ends.reserve(count);
  for (std::size_t i = 0; i < count; ++i) AppendDatagram(traffic, random, i);
  return traffic;
}

RecordedTraffic MakeFloodTraffic(std::size_t count) {
  constexpr std::size_t kLength = 20 + 8 + 64;
  const std::uint8_t header[28] = {0x45, 0, 0,   kLength, 0, 0, 0x40, 0,    64,   kProtocolUDP, 0, 0,  127, 0,
                                   0,    1, 127, 0,       0, 1, 0xC3, 0x50, 0x9C, 0x40,         0, 72, 0,   0};
  RecordedTraffic traffic;
  traffic.bytes.reserve(count * kLength);
  for (std::size_t i = 0; i < count; ++i) {
    traffic.bytes.insert(traffic.bytes.end(), header, header + sizeof header);
    traffic.bytes.insert(traffic.bytes.end(), kLength - sizeof header, 'x');
    traffic.ends.push_back(static_cast<std::uint32_t>(traffic.bytes.size()));
  }
  return traffic;
}

ReceiveResult ReplaySource::Receive(ReceiveBuffer& buffer) {
  if (next_ == traffic_.ends.size()) return {ReceiveStatus::Exhausted, 0};
  const std::size_t begin = next_ == 0 ? 0 : traffic_.ends[next_ - 1];
  const std::size_t length = traffic_.ends[next_++] - begin;
  std::memcpy(buffer.data(), traffic_.bytes.data() + begin, length);
  return {ReceiveStatus::Packet, length};
}

void TextTable::AddRow(const ListedRow& row) {
  ++rows_;
  PacketRow texts;
  BuildPacketRow(row, texts);
  char source[INET_ADDRSTRLEN], destination[INET_ADDRSTRLEN];
  const in_addr sourceAddress{row.source}, destinationAddress{row.destination};
  texts.columns[1] = inet_ntop(AF_INET, &sourceAddress, source, sizeof source);
  texts.columns[3] = inet_ntop(AF_INET, &destinationAddress, destination, sizeof destination);
  for (const std::string_view text : texts.columns) {
    texts_.insert(texts_.end(), text.begin(), text.end());
    ends_.push_back(static_cast<std::uint32_t>(texts_.size()));
  }
}

void TextTable::Clear() {
  texts_.clear();
  ends_.clear();
  rows_ = 0;
}

}  // namespace orvanel::bench
