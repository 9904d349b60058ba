// orvanel-cli's JSON output: one object per listed row, then one with the
// counters, each on a line of its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "capture/counters.h"
#include "capture/packet_row.h"

namespace orvanel::cli {

// The seven column texts of a row as one object: each under its name and
// escaped as the tab-separated output writes it, and payload, the payload's
// bytes (zeros included), as base64. No newline is appended.
// With a time, it comes first, under "time".
void AppendJsonRow(std::string& out, const std::array<std::string_view, kPacketColumnCount>& columns,
                   std::span<const std::uint8_t> payload, std::optional<std::string_view> time = std::nullopt);

// The shown counters as one object, with the byte totals of each group and protocol:
// {"counters":{"all":{"tcp":N,...},...,"errors":N,"bytes":{"all":{"tcp":N,...},...}}}.
void AppendJsonCounters(std::string& out, const CounterSnapshot& counters);

}  // namespace orvanel::cli
