#include "storage/pcapng_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "capture/packet_decode.h"

namespace orvanel {
namespace {

constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionBlock = 1;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kLinkTypeIPv4 = 228;
constexpr std::uint16_t kOptionTimeResolution = 9;
constexpr std::uint8_t kNanoseconds = 9;

// One block in the writer's own byte order, as pcapng allows.
class Block {
 public:
  explicit Block(std::uint32_t type) { Put32(type), Put32(0); }
  void Put16(std::uint16_t value) { Put(&value, sizeof value); }
  void Put32(std::uint32_t value) { Put(&value, sizeof value); }
  void Put(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + length);
  }
  void PadTo4() { bytes_.resize((bytes_.size() + 3) / 4 * 4, 0); }
  // The whole block, its total length in place at both ends.
  std::span<const std::uint8_t> Finish() {
    const auto total = static_cast<std::uint32_t>(bytes_.size() + 4);
    Put32(total);
    std::memcpy(bytes_.data() + 4, &total, sizeof total);
    return bytes_;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

PcapngWriter::PcapngWriter(std::FILE* out) : out_(out) {
  Block section(kSectionHeaderBlock);
  section.Put32(kByteOrderMagic);
  section.Put16(1), section.Put16(0);  // version 1.0
  const std::int64_t unknownLength = -1;
  section.Put(&unknownLength, sizeof unknownLength);
  const auto sectionBytes = section.Finish();
  Write(sectionBytes.data(), sectionBytes.size());

  Block interface(kInterfaceDescriptionBlock);
  interface.Put16(kLinkTypeIPv4), interface.Put16(0);
  interface.Put32(kReceiveBufferSize);  // snapshot length
  interface.Put16(kOptionTimeResolution), interface.Put16(1);
  interface.Put(&kNanoseconds, 1);
  interface.PadTo4();
  interface.Put32(0);  // end of options
  const auto interfaceBytes = interface.Finish();
  Write(interfaceBytes.data(), interfaceBytes.size());
}

void PcapngWriter::AddRow(const ListedRow& row) { WritePacket(row.datagram, row.captureTimeNs); }

void PcapngWriter::WritePacket(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  // Only a datagram that filled the buffer was cut; its header says how long it was.
  const std::uint16_t totalLength = DecodeHeader(datagram).TotalLength();
  const auto captured = static_cast<std::uint32_t>(datagram.size());
  const std::uint32_t original = captured == kReceiveBufferSize && totalLength > captured ? totalLength : captured;
  // pcapng counts unsigned from the epoch: a time before it stays at it, as
  // one past 64 bits of nanoseconds stays at their end.
  const auto time = static_cast<std::uint64_t>(std::max<std::int64_t>(captureTimeNs, 0));
  // The datagram goes from where it lies straight into the stream's buffer.
  const std::uint32_t padding = (4 - captured % 4) % 4;
  const std::uint32_t total = 32 + captured + padding;
  const std::array<std::uint32_t, 7> head = {kEnhancedPacketBlock,
                                             total,
                                             0,  // interface 0
                                             static_cast<std::uint32_t>(time >> 32),
                                             static_cast<std::uint32_t>(time),
                                             captured,
                                             original};
  std::array<std::uint8_t, 3 + sizeof total> tail{};  // the padding's zeros, then the total again
  std::memcpy(tail.data() + padding, &total, sizeof total);
  Write(head.data(), sizeof head);
  Write(datagram.data(), datagram.size());
  Write(tail.data(), padding + sizeof total);
}

void PcapngWriter::Write(const void* data, std::size_t length) {
  if (error_ != 0) return;
  // One thread writes the stream: its lock is not needed for each piece.
  if (fwrite_unlocked(data, 1, length, out_) != length) error_ = errno != 0 ? errno : EIO;
}

}  // namespace orvanel
