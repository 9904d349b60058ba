#include "capture/classify.h"

namespace orvanel {

bool MatchesFilter(std::string_view addressText, std::string_view filterText) {
  if (filterText.size() > addressText.size()) return false;
  // A plain loop: for texts this short a library memcmp costs more than the compare.
  for (std::size_t i = 0; i < filterText.size(); ++i) {
    if (addressText[i] != filterText[i]) return false;
  }
  return true;
}

TrafficCase ClassifyAddresses(std::string_view sourceText, std::string_view destinationText,
                              std::string_view sourceFilter, std::string_view destinationFilter) {
  const bool source = MatchesFilter(sourceText, sourceFilter);
  const bool destination = MatchesFilter(destinationText, destinationFilter);
  if (source && destination) return TrafficCase::Both;
  if (source) return TrafficCase::SourceOnly;
  if (destination) return TrafficCase::DestinationOnly;
  return TrafficCase::Neither;
}

std::span<const TrafficGroup> GroupsOfCase(TrafficCase trafficCase) {
  using enum TrafficGroup;
  static constexpr TrafficGroup kBoth[] = {All, Source, Destination};
  static constexpr TrafficGroup kSourceOnly[] = {All, Source};
  static constexpr TrafficGroup kDestinationOnly[] = {All, Destination};
  static constexpr TrafficGroup kNeither[] = {Other, All};
  switch (trafficCase) {
    case TrafficCase::Both: return kBoth;
    case TrafficCase::SourceOnly: return kSourceOnly;
    case TrafficCase::DestinationOnly: return kDestinationOnly;
    case TrafficCase::Neither: break;
  }
  return kNeither;
}

void CountInGroups(PacketCounters& counters, TrafficCase trafficCase, std::uint8_t protocolByte,
                   std::uint16_t totalLength) {
  for (TrafficGroup group : GroupsOfCase(trafficCase)) counters.CountPacket(group, protocolByte, totalLength);
}

}  // namespace orvanel
