// The command line of orvanel-cli, parsed into the same box states and
// filters the dialog would hold.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_options.h"
#include "tools/allow_list.h"
#include "tools/row_printer.h"

namespace orvanel::cli {

struct ListenAddress {
  std::string host;  // as given; empty: every IPv4 address
  int port = 0;      // 0: any free port
};

struct CliOptions {
  std::string srcFilter;  // empty: matches every address
  std::string dstFilter;
  std::array<int, kCaptureOptionCount> boxes{};  // check state of each box
  std::string saveDirectory;                     // with the save box ticked
  std::string writeFile;                         // listed rows as pcapng; empty: none
  std::optional<std::string> rowFilter;          // capture-filter expression narrowing the listed rows
  std::vector<std::string> readFiles;            // read in order as one stream
  std::optional<std::string> address;            // capture live on this local address
  bool waitForAddress = false;                   // live: wait until the address is local instead of failing
  std::uint32_t count = 0;                       // live: stop after this many packets; 0: no limit
  double seconds = 0;                            // live: stop after this long; 0: no limit
  OutputFormat format = OutputFormat::Tsv;
  bool quiet = false;                           // no row output; rows are still counted
  bool conversations = false;                   // print the conversation table after the counters
  std::uint32_t conversationLimit = 1'000'000;  // conversations held before the least active are folded
  bool time = false;                            // each row's capture time first
  std::optional<ListenAddress> metricsListen;   // live: serve /metrics here
  std::optional<AllowList> metricsAllow;        // only to these addresses; none: to all
  std::string webConfig;                        // TLS and basic auth from this file; empty: none
  std::string metricsFile;                      // rewrite the metrics here every second
  bool programMetrics = false;                  // live: bandwidth per local program in the metrics
  bool listAddresses = false;
  bool help = false;
  bool version = false;
};

struct ParseResult {
  std::optional<CliOptions> options;  // none: error says why
  std::string error;
};

// Parses the arguments after the program name.
ParseResult ParseCliOptions(const std::vector<std::string_view>& arguments);

std::string_view UsageText();
std::string_view VersionText();

}  // namespace orvanel::cli
