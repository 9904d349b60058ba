// One packet-table row in compact form, as the queue and the model store it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvanel {

// How a column's text is held. Compact columns are parsed back from the texts
// the capture loop produced; any text that would not format back to exactly
// the same bytes is kept as text instead.
enum class ColumnKind : std::uint8_t { Empty = 0, Compact = 1, Text = 2 };

// Longer column texts are cut; the loop's longest (a payload) is 2020 bytes.
inline constexpr std::size_t kMaxColumnText = 4096;
inline constexpr int kRecordColumns = 7;

struct PacketRecord {
  std::uint64_t textOffset = 0;  // where the Text columns start in the owner's text bytes
  std::uint32_t source = 0;      // column 1, address octets in header order
  std::uint32_t destination = 0;
  std::uint16_t sourcePort = 0;  // column 2
  std::uint16_t destinationPort = 0;
  std::uint16_t length = 0;      // column 5
  std::uint16_t layout = 0;      // two bits per column kind, the top two bits the label

  ColumnKind Kind(int column) const { return static_cast<ColumnKind>(Bits(2 * column)); }
  void SetKind(int column, ColumnKind kind) { SetBits(2 * column, static_cast<unsigned>(kind)); }
  // Column 0 when compact: a ProtocolClass.
  std::uint8_t Label() const { return static_cast<std::uint8_t>(Bits(kLabelShift)); }
  void SetLabel(std::uint8_t label) { SetBits(kLabelShift, label); }

 private:
  static constexpr int kLabelShift = 14;
  unsigned Bits(int shift) const { return layout >> shift & 3u; }
  void SetBits(int shift, unsigned value) {
    layout = static_cast<std::uint16_t>((layout & ~(3u << shift)) | (value & 3u) << shift);
  }
};
static_assert(sizeof(PacketRecord) == 24);

// Sets a column from the text the table was given: compact when it round-trips
// exactly, else empty or text. Returns the text to keep for a Text column.
std::string_view StoreColumn(PacketRecord& record, int column, std::string_view text);

// The text bytes of a record's Text columns are laid out in column order, each
// as a 16-bit length (native order) followed by its bytes.
inline constexpr std::size_t kTextLengthBytes = 2;

// The shown text of a non-Text column (Empty or Compact), written into out.
std::string_view CompactColumnText(const PacketRecord& record, int column, std::array<char, 16>& out);

// The bytes of a Text column, found in the record's text block.
std::string_view TextColumn(const PacketRecord& record, const char* textBlock, int column);

// Bytes the record's Text columns take in a text block.
std::size_t TextBlockSize(const PacketRecord& record, const char* textBlock);

}  // namespace orvanel
