// The names orvanel-cli gives the counter groups and protocol classes: in
// --show, in the counter lines and objects, and in the metrics' labels.
#pragma once

#include <string_view>

#include "capture/counters.h"

namespace orvanel::cli {

struct GroupName {
  TrafficGroup group;
  std::string_view name;         // --show (All aside), the "#name" line and the JSON key
  std::string_view metricLabel;  // the metrics' group label; All has none
};

inline constexpr GroupName kGroupNames[kTrafficGroupCount] = {
    {TrafficGroup::All, "all", ""},
    {TrafficGroup::Source, "src", "source"},
    {TrafficGroup::Destination, "dst", "destination"},
    {TrafficGroup::Other, "other", "neither"},
};

// In ProtocolClass order; OTHER is counted but never listed.
inline constexpr std::string_view kProtocolNames[kProtocolClassCount] = {"tcp", "udp", "icmp", "other"};

constexpr std::string_view ProtocolName(ProtocolClass protocol) { return kProtocolNames[static_cast<int>(protocol)]; }

}  // namespace orvanel::cli
