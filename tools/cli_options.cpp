#include "tools/cli_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <algorithm>

namespace orvanel::cli {
namespace {

struct GroupBoxes {
  std::string_view name;
  CaptureOption enable;
  CaptureOption firstProtocol;  // TCP; UDP and ICMP follow it
};
constexpr GroupBoxes kGroups[] = {
    {"src", CaptureOption::SourceEnable, CaptureOption::SourceTCP},
    {"dst", CaptureOption::DestinationEnable, CaptureOption::DestinationTCP},
    {"other", CaptureOption::OtherEnable, CaptureOption::OtherTCP},
};
constexpr std::string_view kProtocols[] = {"tcp", "udp", "icmp"};  // in box order

// Ticks the boxes of one "GROUP=PROTO[,PROTO...]"; false when it names
// something unknown.
bool TickShown(std::string_view value, CliOptions& options) {
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string_view groupName = value.substr(0, equals);
  const GroupBoxes* group = nullptr;
  for (const GroupBoxes& candidate : kGroups) {
    if (candidate.name == groupName) group = &candidate;
  }
  const std::string_view protocols = value.substr(equals + 1);
  if (!group || protocols.empty()) return false;
  std::array<int, kCaptureOptionCount> boxes = options.boxes;
  boxes[static_cast<int>(group->enable)] = kChecked;
  for (std::size_t start = 0; start <= protocols.size();) {
    const std::size_t comma = std::min(protocols.find(',', start), protocols.size());
    const std::string_view protocol = protocols.substr(start, comma - start);
    int index = 0;
    while (index < 3 && kProtocols[index] != protocol) ++index;
    if (index == 3) return false;
    boxes[static_cast<int>(group->firstProtocol) + index] = kChecked;
    start = comma + 1;
  }
  options.boxes = boxes;
  return true;
}

bool IsOption(std::string_view argument) { return argument.starts_with("--"); }

std::optional<std::uint32_t> ParseCount(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 ||
      value > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return value;
}

constexpr double kMaxSeconds = 365.0 * 24 * 3600;

std::optional<double> ParseSeconds(std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (copy.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > kMaxSeconds) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string_view>& arguments) {
  CliOptions options;
  auto fail = [](std::string error) { return ParseResult{std::nullopt, std::move(error)}; };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--help") {
      options.help = true;
    } else if (argument == "--list-addresses") {
      options.listAddresses = true;
    } else if (argument == "--address" || argument == "--count" || argument == "--seconds") {
      if (!hasValue) return fail(std::string(argument) + " needs an argument");
      const std::string_view value = arguments[++i];
      if (argument == "--address") options.address = value;
      if (argument == "--count") {
        const auto count = ParseCount(value);
        if (!count) return fail("bad --count '" + std::string(value) + "': expected a whole number from 1 to 2147483647");
        options.count = *count;
      }
      if (argument == "--seconds") {
        const auto seconds = ParseSeconds(value);
        if (!seconds) return fail("bad --seconds '" + std::string(value) + "': expected a number above 0, at most a year");
        options.seconds = *seconds;
      }
    } else if (argument == "--src" || argument == "--dst" || argument == "--show" || argument == "--save-last" ||
               argument == "--write") {
      if (!hasValue) return fail(std::string(argument) + " needs an argument");
      const std::string_view value = arguments[++i];
      if (argument == "--src") options.srcFilter = value;
      if (argument == "--dst") options.dstFilter = value;
      if (argument == "--show" && !TickShown(value, options)) {
        return fail("bad --show '" + std::string(value) + "': expected GROUP=PROTO[,PROTO...] with GROUP src, dst "
                    "or other and PROTO tcp, udp or icmp");
      }
      if (argument == "--write") {
        if (value.empty()) return fail("--write needs a file");
        options.writeFile = value;
      }
      if (argument == "--save-last") {
        if (value.empty()) return fail("--save-last needs a directory");
        options.saveDirectory = value;
        options.boxes[static_cast<int>(CaptureOption::SaveLast)] = kChecked;
      }
    } else if (argument == "--read") {
      const std::size_t first = i + 1;
      while (i + 1 < arguments.size() && !IsOption(arguments[i + 1])) options.readFiles.emplace_back(arguments[++i]);
      if (i + 1 == first) return fail("--read needs at least one FILE");
    } else if (IsOption(argument)) {
      return fail("unknown option '" + std::string(argument) + "'");
    } else {
      return fail("unexpected argument '" + std::string(argument) + "'");
    }
  }
  if (options.help) return {std::move(options), {}};
  const int modes = !options.readFiles.empty() + options.address.has_value() + options.listAddresses;
  if (modes == 0) return fail("nothing to do: give --read FILE..., --address ADDRESS or --list-addresses");
  if (modes > 1) return fail("give only one of --read, --address and --list-addresses");
  if ((options.count != 0 || options.seconds != 0) && !options.address) {
    return fail("--count and --seconds need --address");
  }
  return {std::move(options), {}};
}

std::string_view UsageText() {
  return R"(Usage: orvanel-cli [--src PREFIX] [--dst PREFIX] [--show GROUP=PROTO[,PROTO...]]...
                   [--save-last DIR] [--write FILE] --read FILE...
       orvanel-cli [--src PREFIX] [--dst PREFIX] [--show GROUP=PROTO[,PROTO...]]...
                   [--save-last DIR] [--write FILE] --address ADDRESS [--count N] [--seconds S]
       orvanel-cli --list-addresses
       orvanel-cli --help

Counts and lists IPv4 packets as the Orvanel dialog does: read from capture
files, or captured live on one of this machine's own addresses.

  --src PREFIX     source filter: a packet's source address matches when its
                   dotted text starts with PREFIX (plain text, not parsed).
                   Default: empty, which matches every address.
  --dst PREFIX     destination filter, the same for the destination address.
                   Default: empty, which matches every address.
  --show GROUP=PROTO[,PROTO...]
                   tick the enable box of GROUP and its boxes for each PROTO.
                   GROUP is src (source matches), dst (destination matches)
                   or other (neither matches); PROTO is tcp, udp or icmp.
                   May be given once per group or more. Nothing is listed
                   without it; every packet is still counted.
  --save-last DIR  tick the save box: each listed packet replaces
                   DIR/buf_TCP.txt, DIR/buf_UDP.txt or DIR/buf_ICMP.txt.
  --write FILE     also write the listed rows to FILE as pcapng (link type
                   IPv4, nanosecond capture times), created readable by its
                   owner only; tcpdump -r and Wireshark read it.
  --read FILE...   read these pcap or pcapng files, in order, as one stream.
                   Link types: Ethernet (802.1Q/802.1ad tags too), Linux
                   cooked v1 and v2, BSD null and loop, raw IP, IPv4.
                   Frames without an IPv4 datagram are skipped, not counted;
                   datagrams longer than 2048 bytes are cut to 2048.
  --address ADDRESS
                   capture live on the interface that holds ADDRESS, one of
                   the addresses --list-addresses prints (exact text): what
                   the machine sends and receives there, and in promiscuous
                   mode what passes between other hosts. Runs until --count
                   or --seconds is reached, or until SIGINT (Ctrl-C) or
                   SIGTERM, then prints as --read does. Needs root, or the
                   group orvanel (see README).
  --count N        live: stop once N packets were counted in #all
                   (1 to 2147483647). Default: no limit.
  --seconds S      live: stop after S seconds (may have decimals, at most a
                   year). Default: no limit.
  --list-addresses print this machine's IPv4 addresses, one a line, in the
                   order the dialog offers them: interfaces that are up,
                   others first, loopback last.
  --help           show this text.

Output: one line per listed row in the order rows are added, seven columns
separated by tabs (protocol, source address, source port, destination
address, destination port, total length, payload). The payload is escaped:
bytes 0x20-0x7e stand for themselves except '\', written '\\'; every other
byte is written \xHH. Then five counter lines:
  #all, #src, #dst, #other   each followed by the TCP, UDP, ICMP and OTHER counts
  #errors                    followed by the receive-error count
A live capture writes two lines on stderr, one once packets are being
captured and one at the end:
  orvanel-cli: capturing on ADDRESS
  orvanel-cli: N receive failures, M dropped by the kernel, K not listed

Exit status: 0 on success; 2 with a one-line error on stderr for bad options,
an unreadable, unsupported or damaged capture file (the rows and counters of
what was read before the damage are printed first), or an ADDRESS that is
not one of this machine's; 1 with a one-line error on stderr when a live
capture cannot start (no right to capture, no address list, binding or
receive mode refused) or the address list cannot be read.
)";
}

}  // namespace orvanel::cli
