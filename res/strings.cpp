#include "res/strings.h"

#include <array>

#include "res/resource.h"
#include "version.h"

namespace orvanel::res {
namespace {

struct StringEntry {
  int id;
  std::string_view text;
};

constexpr std::array kStringTable = {
    StringEntry{IDS_ABOUTBOX, "关于 Orvanel(&A)..."},
};

constexpr VersionBlock kVersion{
    kFileVersionText, kFileVersionText,   kDottedVersionText,    "Orvanel",
    "orvanel",        "Orvanel 应用程序", "Orvanel Qt 应用程序", kMakerNotice,
};

}  // namespace

std::string_view LoadString(int id) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == id) return entry.text;
  }
  return {};
}

const VersionBlock& Version() { return kVersion; }

}  // namespace orvanel::res
