// Which counter groups a packet falls in, from its two address texts.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "capture/counters.h"

namespace orvanel {

// A prefix test on bytes: the filter is not parsed, trimmed or validated, and
// a filter longer than the address never matches.
bool MatchesFilter(std::string_view addressText, std::string_view filterText);

enum class TrafficCase { Both, SourceOnly, DestinationOnly, Neither };

TrafficCase ClassifyAddresses(std::string_view sourceText, std::string_view destinationText,
                              std::string_view sourceFilter, std::string_view destinationFilter);

// The groups a case is counted in, in counting order: All, Source,
// Destination for matches and Other, All for no match.
std::span<const TrafficGroup> GroupsOfCase(TrafficCase trafficCase);

// Counts the packet, and its total length in bytes, in the groups of its case, in that order.
void CountInGroups(PacketCounters& counters, TrafficCase trafficCase, std::uint8_t protocolByte,
                   std::uint16_t totalLength);

}  // namespace orvanel
