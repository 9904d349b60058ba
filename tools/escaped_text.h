// The cli's escaping of column texts, shared by the TSV and the JSON output.
#pragma once

#include <string>
#include <string_view>

namespace orvanel::cli {

// Appends text with every byte outside 0x20-0x7e, and the backslash, escaped.
void AppendEscaped(std::string& out, std::string_view text);

}  // namespace orvanel::cli
