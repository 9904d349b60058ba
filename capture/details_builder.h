// What the describers of each protocol share: reading a header's bytes
// without leaving them, and adding its fields and options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "capture/big_endian.h"
#include "capture/detail_layer.h"

namespace orvanel::details {

inline constexpr std::size_t kMinimumHeader = 20;  // of IPv4 and of TCP

// The bytes of one header or segment; reads never leave them.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  [[nodiscard]] std::size_t size() const { return bytes_.size(); }
  [[nodiscard]] bool Has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  // The big-endian value of count (at most 4) bytes; only after Has(offset, count).
  [[nodiscard]] std::uint32_t Value(std::size_t offset, std::size_t count) const {
    return ReadBigEndian(bytes_, offset, count);
  }
  // The bytes from offset up to end, as far as there are any.
  [[nodiscard]] std::span<const std::uint8_t> Range(std::size_t offset, std::size_t end) const;

 private:
  std::span<const std::uint8_t> bytes_;
};

// A field that has no value of its own, only its finding.
DetailField Noted(Finding finding, std::size_t number = 0);

// Adds the fields of one layer; a field whose bytes were not received says so.
class LayerBuilder {
 public:
  LayerBuilder(DetailLayerId id, const ByteReader& bytes) : bytes_(bytes) { layer_.id = id; }

  // The value of count bytes at offset.
  DetailField& Field(DetailFieldId id, std::size_t offset, std::size_t count);
  // The four bytes at offset as they are, in network order.
  DetailField& Address(DetailFieldId id, std::size_t offset);
  DetailField& Add(DetailFieldId id, std::uint32_t value, DetailFinding finding = {});
  DetailField& Missing(DetailFieldId id) { return Add(id, 0, {Finding::Missing}); }
  DetailLayer Take() { return std::move(layer_); }

 private:
  const ByteReader& bytes_;
  DetailLayer layer_;
};

// The options between begin and end of the header, as far as received. IPv4
// and TCP options share one form: kinds 0 (end of list) and 1 (no-op) are one
// byte; the others give their length, kind and length bytes included.
void AddOptions(LayerBuilder& layer, const ByteReader& header, std::size_t begin, std::size_t end);

// A header length field of IPv4 or TCP: valid from 20 bytes, and the header
// may run past the bytes received.
void AddHeaderLength(LayerBuilder& layer, DetailFieldId id, bool present, std::size_t length, std::size_t received);

// A checksum field right or wrong, by the one's-complement sum of what it
// covers (itself included); wrong, with the value it should hold.
void MarkChecksum(DetailField& checksum, std::uint32_t sum);

// The bytes after the headers: as many as declared, of which some may be missing.
DetailLayer DataLayer(DetailLayerId id, std::size_t received, std::size_t declared);

}  // namespace orvanel::details
