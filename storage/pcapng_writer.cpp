#include "storage/pcapng_writer.h"

#include <array>
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
  void WriteTo(std::FILE* out) {
    const auto total = static_cast<std::uint32_t>(bytes_.size() + 4);
    Put32(total);
    std::memcpy(bytes_.data() + 4, &total, sizeof total);
    std::fwrite(bytes_.data(), 1, bytes_.size(), out);
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
  section.WriteTo(out_);

  Block interface(kInterfaceDescriptionBlock);
  interface.Put16(kLinkTypeIPv4), interface.Put16(0);
  interface.Put32(kReceiveBufferSize);  // snapshot length
  interface.Put16(kOptionTimeResolution), interface.Put16(1);
  interface.Put(&kNanoseconds, 1);
  interface.PadTo4();
  interface.Put32(0);  // end of options
  interface.WriteTo(out_);
}

void PcapngWriter::AddRow(const ListedRow& row) { WritePacket(row.datagram, row.captureTimeNs); }

void PcapngWriter::WritePacket(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs) {
  // Only a datagram that filled the buffer was cut; its header says how long it was.
  const std::uint16_t totalLength = DecodeHeader(datagram).TotalLength();
  const auto captured = static_cast<std::uint32_t>(datagram.size());
  const std::uint32_t original = captured == kReceiveBufferSize && totalLength > captured ? totalLength : captured;
  const auto time = static_cast<std::uint64_t>(captureTimeNs);
  // The datagram goes from where it lies straight into the stream's buffer.
  const std::uint32_t padding = (4 - captured % 4) % 4;
  const std::uint32_t total = 32 + captured + padding;
  const std::array<std::uint32_t, 7> head = {kEnhancedPacketBlock, total, 0,  // interface 0
                                             static_cast<std::uint32_t>(time >> 32), static_cast<std::uint32_t>(time),
                                             captured, original};
  std::array<std::uint8_t, 3 + sizeof total> tail{};  // the padding's zeros, then the total again
  std::memcpy(tail.data() + padding, &total, sizeof total);
  // One thread writes the stream: its lock is not needed for each piece.
  fwrite_unlocked(head.data(), sizeof head, 1, out_);
  fwrite_unlocked(datagram.data(), 1, datagram.size(), out_);
  fwrite_unlocked(tail.data(), 1, padding + sizeof total, out_);
}

}  // namespace orvanel
