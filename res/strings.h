// The string table and the version block.
#pragma once

#include <string_view>

namespace orvanel::res {

// The maker's notice of the About box and the version block.
inline constexpr std::string_view kMakerNotice = "版权所有 (C) 2026 Orvanel 开发者";

// The text of a string resource; empty when there is none with that id.
std::string_view LoadString(int id);

struct VersionBlock {
  std::string_view fileVersion;     // "1, 0, 0, 1"
  std::string_view productVersion;  // same
  std::string_view dottedVersion;   // "1.0.0.1"
  std::string_view internalName;
  std::string_view originalFilename;
  std::string_view productName;
  std::string_view fileDescription;
  std::string_view legalCopyright;
};

const VersionBlock& Version();

}  // namespace orvanel::res
