// The string table and the version block.
#pragma once

#include <string_view>

namespace orvanel::res {

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
