#include "capture/details_builder.h"

#include <algorithm>
#include <cstring>

#include "capture/internet_checksum.h"

namespace orvanel::details {
namespace {

std::vector<DetailOption> ListOptions(std::span<const std::uint8_t> bytes) {
  std::vector<DetailOption> options;
  std::size_t at = 0;
  while (at < bytes.size()) {
    DetailOption& option = options.emplace_back();
    option.kind = bytes[at];
    if (option.kind == 0 || option.kind == 1) {
      ++at;
      if (option.kind == 0) break;  // the rest is padding
      continue;
    }
    if (at + 1 == bytes.size()) {
      option.finding = Finding::LengthMissing;
      break;
    }
    const std::uint8_t length = bytes[at + 1];
    option.length = length;
    if (length < 2) {
      option.finding = Finding::BelowMinimum;
      option.numbers = {2, 0};
      break;
    }
    if (length > bytes.size() - at) {
      option.finding = Finding::MissingBytes;
      option.numbers = {length - (bytes.size() - at), 0};
      break;
    }
    const std::span<const std::uint8_t> data = bytes.subspan(at + 2, length - 2u);
    option.data.assign(data.begin(), data.end());
    at += length;
  }
  return options;
}

}  // namespace

std::span<const std::uint8_t> ByteReader::Range(std::size_t offset, std::size_t end) const {
  end = std::min(end, bytes_.size());
  offset = std::min(offset, end);
  return bytes_.subspan(offset, end - offset);
}

DetailField Noted(Finding finding, std::size_t number) {
  DetailField field;
  field.id = DetailFieldId::Note;
  field.finding = finding;
  field.numbers = {number, 0};
  return field;
}

DetailField& LayerBuilder::Field(DetailFieldId id, std::size_t offset, std::size_t count) {
  if (!bytes_.Has(offset, count)) return Missing(id);
  return Add(id, bytes_.Value(offset, count));
}

DetailField& LayerBuilder::Address(DetailFieldId id, std::size_t offset) {
  if (!bytes_.Has(offset, 4)) return Missing(id);
  std::uint32_t address;
  std::memcpy(&address, bytes_.Range(offset, offset + 4).data(), sizeof address);
  return Add(id, address);
}

DetailField& LayerBuilder::Add(DetailFieldId id, std::uint32_t value, DetailFinding finding) {
  DetailField& field = layer_.fields.emplace_back();
  field.id = id;
  field.value = value;
  static_cast<DetailFinding&>(field) = finding;
  return field;
}

void AddOptions(LayerBuilder& layer, const ByteReader& header, std::size_t begin, std::size_t end) {
  if (end <= begin) return;
  const std::span<const std::uint8_t> received = header.Range(begin, end);
  const std::size_t missing = end - begin - received.size();
  DetailField& options = layer.Add(DetailFieldId::Options, std::uint32_t(end - begin),
                                   missing ? DetailFinding{Finding::MissingBytes, {missing, 0}} : DetailFinding{});
  options.options = ListOptions(received);
}

void AddHeaderLength(LayerBuilder& layer, DetailFieldId id, bool present, std::size_t length, std::size_t received) {
  const auto value = std::uint32_t(length);
  if (!present) {
    layer.Missing(id);
  } else if (length < kMinimumHeader) {
    layer.Add(id, value, {Finding::BelowMinimum, {kMinimumHeader, 0}});
  } else if (length > received) {
    layer.Add(id, value, {Finding::BeyondReceived, {received, 0}});
  } else {
    layer.Add(id, value);
  }
}

DetailLayer DataLayer(DetailLayerId id, std::size_t received, std::size_t declared) {
  const ByteReader none({});
  LayerBuilder layer(id, none);
  if (received < declared) {
    layer.Add(DetailFieldId::DataLength, std::uint32_t(declared), {Finding::RestMissing, {received, 0}});
  } else {
    layer.Add(DetailFieldId::DataLength, std::uint32_t(received));
  }
  return layer.Take();
}

void MarkChecksum(DetailField& checksum, std::uint32_t sum) {
  if (sum == 0xFFFF) {
    checksum.finding = Finding::ChecksumRight;
    return;
  }
  checksum.finding = Finding::ChecksumWrong;
  checksum.numbers[0] = ExpectedChecksum(sum, static_cast<std::uint16_t>(checksum.value));
}

}  // namespace orvanel::details
