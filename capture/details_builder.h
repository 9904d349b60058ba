// What the describers of each protocol share: reading a header's bytes
// without leaving them, and adding its fields, options and flags as texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "capture/big_endian.h"
#include "capture/datagram_details.h"

namespace orvanel::details {

inline constexpr std::size_t kMinimumHeader = 20;  // of IPv4 and of TCP

std::string Decimal(std::uint64_t value);
std::string Hex(std::uint32_t value, int digits);
std::string ByteCount(std::size_t count);
std::string Joined(const std::vector<std::string>& texts, const char* separator);
std::string HexBytes(std::span<const std::uint8_t> bytes);

// The bytes of one header or segment; reads never leave them.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t size() const { return bytes_.size(); }
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  // The big-endian value of count (at most 4) bytes; only after Has(offset, count).
  std::uint32_t Value(std::size_t offset, std::size_t count) const { return ReadBigEndian(bytes_, offset, count); }
  // The dotted text of the address at offset; only after Has(offset, 4).
  std::string AddressAt(std::size_t offset) const;
  // The bytes from offset up to end, as far as there are any.
  std::span<const std::uint8_t> Range(std::size_t offset, std::size_t end) const;

 private:
  std::span<const std::uint8_t> bytes_;
};

using ValueText = std::function<std::string(std::uint32_t)>;

// Adds the fields of one layer; a field whose bytes were not received says so.
class LayerBuilder {
 public:
  LayerBuilder(std::string title, const ByteReader& bytes) : bytes_(bytes) { layer_.title = std::move(title); }

  DetailField& Field(std::string label, std::size_t offset, std::size_t count, const ValueText& text);
  DetailField& Number(std::string label, std::size_t offset, std::size_t count);
  DetailField& HexNumber(std::string label, std::size_t offset, std::size_t count);
  DetailField& Address(std::string label, std::size_t offset);
  DetailField& Add(std::string label, std::string value, bool fault = false);
  DetailLayer Take() { return std::move(layer_); }

 private:
  const ByteReader& bytes_;
  DetailLayer layer_;
};

// IPv4 and TCP options share one form: kinds 0 (end of list) and 1 (no-op)
// are one byte; the others give their length, kind and length bytes included.
struct OptionKind {
  std::uint8_t kind;
  const char* name;
};

using OptionText = std::string (*)(std::uint8_t kind, std::span<const std::uint8_t> data);

// The "选项" field: the options between begin and end of the header, as far as received.
void AddOptions(LayerBuilder& layer, const ByteReader& header, std::size_t begin, std::size_t end,
                std::span<const OptionKind> kinds, OptionText text);

// Named bits of a flags field, in the order given, or "无".
struct NamedBit {
  std::uint32_t bit;
  const char* name;
};

std::string FlagsText(std::uint32_t value, int digits, std::span<const NamedBit> bits);

// A header length field of IPv4 or TCP: valid from 20 bytes, and the header
// may run past the bytes received.
void AddHeaderLength(LayerBuilder& layer, std::string label, bool present, std::size_t length, std::size_t received);

// The bytes after the headers: as many as declared, of which some may be missing.
DetailLayer DataLayer(std::string title, std::size_t received, std::size_t declared);

}  // namespace orvanel::details
