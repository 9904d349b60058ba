#include "capture/details_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "capture/address_text.h"

namespace orvanel::details {
namespace {

std::vector<DetailField> ListOptions(std::span<const std::uint8_t> bytes, std::span<const OptionKind> kinds,
                                     OptionText text) {
  const auto name = [kinds](std::uint8_t kind) -> std::string {
    const auto known = std::find_if(kinds.begin(), kinds.end(), [kind](const OptionKind& k) { return k.kind == kind; });
    return known != kinds.end() ? known->name : "未知选项";
  };
  std::vector<DetailField> options;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::uint8_t kind = bytes[at];
    const std::string value = "类型 " + Decimal(kind);
    if (kind == 0 || kind == 1) {
      options.push_back({name(kind), value, false, {}});
      ++at;
      if (kind == 0) break;  // the rest is padding
      continue;
    }
    if (at + 1 == bytes.size()) {
      options.push_back({name(kind), value + "，长度" + kMissingValue, true, {}});
      break;
    }
    const std::size_t length = bytes[at + 1];
    const std::string withLength = value + "，长度 " + Decimal(length);
    if (length < 2) {
      options.push_back({name(kind), withLength + "（小于 2，无效）", true, {}});
      break;
    }
    if (length > bytes.size() - at) {
      const std::size_t missing = length - (bytes.size() - at);
      options.push_back({name(kind), withLength + "（" + Decimal(missing) + " 字节" + kMissingValue + "）", true, {}});
      break;
    }
    const std::string data = text(kind, bytes.subspan(at + 2, length - 2));
    options.push_back({name(kind), withLength + (data.empty() ? "" : "：" + data), false, {}});
    at += length;
  }
  return options;
}

}  // namespace

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string ByteCount(std::size_t count) { return Decimal(count) + " 字节"; }

std::string Joined(const std::vector<std::string>& texts, const char* separator) {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : separator) + text;
  return joined;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::vector<std::string> texts;
  for (const std::uint8_t byte : bytes) texts.push_back(Hex(byte, 2).substr(2));
  return Joined(texts, " ");
}

std::string ByteReader::AddressAt(std::size_t offset) const {
  std::uint32_t address;  // in network order, as AddressText takes it
  std::memcpy(&address, bytes_.data() + offset, sizeof address);
  return std::string(AddressText(address).View());
}

std::span<const std::uint8_t> ByteReader::Range(std::size_t offset, std::size_t end) const {
  end = std::min(end, bytes_.size());
  offset = std::min(offset, end);
  return bytes_.subspan(offset, end - offset);
}

DetailField& LayerBuilder::Field(std::string label, std::size_t offset, std::size_t count, const ValueText& text) {
  if (!bytes_.Has(offset, count)) return Add(std::move(label), kMissingValue, true);
  return Add(std::move(label), text(bytes_.Value(offset, count)));
}

DetailField& LayerBuilder::Number(std::string label, std::size_t offset, std::size_t count) {
  return Field(std::move(label), offset, count, [](std::uint32_t value) { return Decimal(value); });
}

DetailField& LayerBuilder::HexNumber(std::string label, std::size_t offset, std::size_t count) {
  return Field(std::move(label), offset, count, [count](std::uint32_t value) { return Hex(value, int(count * 2)); });
}

DetailField& LayerBuilder::Address(std::string label, std::size_t offset) {
  if (!bytes_.Has(offset, 4)) return Add(std::move(label), kMissingValue, true);
  return Add(std::move(label), bytes_.AddressAt(offset));
}

DetailField& LayerBuilder::Add(std::string label, std::string value, bool fault) {
  layer_.fields.push_back({std::move(label), std::move(value), fault, {}});
  return layer_.fields.back();
}

void AddOptions(LayerBuilder& layer, const ByteReader& header, std::size_t begin, std::size_t end,
                std::span<const OptionKind> kinds, OptionText text) {
  if (end <= begin) return;
  const std::span<const std::uint8_t> received = header.Range(begin, end);
  const std::size_t missing = end - begin - received.size();
  DetailField& options = layer.Add(
      "选项", ByteCount(end - begin) + (missing ? "（" + Decimal(missing) + " 字节" + kMissingValue + "）" : ""),
      missing > 0);
  options.parts = ListOptions(received, kinds, text);
}

std::string FlagsText(std::uint32_t value, int digits, std::span<const NamedBit> bits) {
  std::vector<std::string> names;
  for (const NamedBit& named : bits) {
    if (value & named.bit) names.push_back(named.name);
  }
  return Hex(value, digits) + "（" + (names.empty() ? std::string("无") : Joined(names, "，")) + "）";
}

void AddHeaderLength(LayerBuilder& layer, std::string label, bool present, std::size_t length, std::size_t received) {
  if (!present) {
    layer.Add(std::move(label), kMissingValue, true);
  } else if (length < kMinimumHeader) {
    layer.Add(std::move(label), ByteCount(length) + "（小于 20，无效）", true);
  } else if (length > received) {
    layer.Add(std::move(label), ByteCount(length) + "（只收到 " + ByteCount(received) + "）", true);
  } else {
    layer.Add(std::move(label), ByteCount(length));
  }
}

DetailLayer DataLayer(std::string title, std::size_t received, std::size_t declared) {
  DetailLayer layer{std::move(title), {}};
  if (received < declared) {
    layer.fields.push_back({"长度", ByteCount(declared) + "（只收到 " + ByteCount(received) + "，其余" + kMissingValue + "）",
                            true, {}});
  } else {
    layer.fields.push_back({"长度", ByteCount(received), false, {}});
  }
  return layer;
}

}  // namespace orvanel::details
