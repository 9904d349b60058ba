// The counters in the Prometheus text exposition format, version 0.0.4.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "capture/counters.h"
#include "capture/program_meter.h"

namespace orvanel::cli {

inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// What orvanel_capture_info tells; empty address and interface for files.
struct CaptureLabels {
  std::string address;
  std::string interface;
  std::string sourceFilter;
  std::string destinationFilter;
};

// Every metric with its HELP and TYPE lines, from the 64-bit running totals.
// interruptions: the times the capture's interface went away.
std::string MetricsText(const PacketCounters& counters, std::uint64_t rowsListed, std::uint64_t kernelDrops,
                        std::uint64_t interruptions, std::uint64_t packetsNotSaved, const CaptureLabels& labels);

// The families of --program-metrics: bytes and packets by program and
// direction, and the conversations counted as "other".
std::string ProgramMetricsText(const std::map<std::string, ProgramTraffic>& totals, std::uint64_t otherConversations);

}  // namespace orvanel::cli
