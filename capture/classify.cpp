#include "classify.h"

namespace orvanel {

bool MatchesFilter(std::string_view addressText, std::string_view filterText) {
  return addressText.starts_with(filterText);
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

void CountInGroups(PacketCounters& counters, TrafficCase trafficCase, std::uint8_t protocolByte) {
  switch (trafficCase) {
    case TrafficCase::Both:
      counters.CountPacket(TrafficGroup::All, protocolByte);
      counters.CountPacket(TrafficGroup::Source, protocolByte);
      counters.CountPacket(TrafficGroup::Destination, protocolByte);
      break;
    case TrafficCase::SourceOnly:
      counters.CountPacket(TrafficGroup::All, protocolByte);
      counters.CountPacket(TrafficGroup::Source, protocolByte);
      break;
    case TrafficCase::DestinationOnly:
      counters.CountPacket(TrafficGroup::All, protocolByte);
      counters.CountPacket(TrafficGroup::Destination, protocolByte);
      break;
    case TrafficCase::Neither:
      counters.CountPacket(TrafficGroup::Other, protocolByte);
      counters.CountPacket(TrafficGroup::All, protocolByte);
      break;
  }
}

}  // namespace orvanel
