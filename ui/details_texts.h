// The details decoder's layers in the details window's words: each field's
// label, its value as text, and whether it shows as a fault.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/datagram_details.h"

namespace orvanel {

// The value of a field whose bytes were not received.
inline constexpr const char* kMissingValue = "缺失";

struct FieldText {
  std::string label;
  std::string value;
  bool fault = false;
  std::vector<FieldText> parts;  // options, one each
};

struct LayerText {
  std::string title;
  std::vector<FieldText> fields;
};

std::vector<LayerText> DetailTexts(const std::vector<DetailLayer>& layers);

// Names of ICMP types and codes; "未知类型" and the like otherwise, and no
// name for code 0 of a type that has no other codes.
std::string IcmpTypeName(std::uint8_t type);
std::string IcmpCodeName(std::uint8_t type, std::uint8_t code);

}  // namespace orvanel
