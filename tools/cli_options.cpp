#include "tools/cli_options.h"

#include <ranges>

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
  for (const auto piece : std::views::split(protocols, ',')) {
    const std::string_view protocol(piece.begin(), piece.end());
    int index = 0;
    while (index < 3 && kProtocols[index] != protocol) ++index;
    if (index == 3) return false;
    boxes[static_cast<int>(group->firstProtocol) + index] = kChecked;
  }
  options.boxes = boxes;
  return true;
}

bool IsOption(std::string_view argument) { return argument.starts_with("--"); }

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string_view>& arguments) {
  CliOptions options;
  auto fail = [](std::string error) { return ParseResult{std::nullopt, std::move(error)}; };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--help") {
      options.help = true;
    } else if (argument == "--src" || argument == "--dst" || argument == "--show" || argument == "--save-last") {
      if (!hasValue) return fail(std::string(argument) + " needs an argument");
      const std::string_view value = arguments[++i];
      if (argument == "--src") options.srcFilter = value;
      if (argument == "--dst") options.dstFilter = value;
      if (argument == "--show" && !TickShown(value, options)) {
        return fail("bad --show '" + std::string(value) + "': expected GROUP=PROTO[,PROTO...] with GROUP src, dst "
                    "or other and PROTO tcp, udp or icmp");
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
  if (!options.help && options.readFiles.empty()) return fail("nothing to do: give --read FILE...");
  return {std::move(options), {}};
}

std::string_view UsageText() {
  return R"(Usage: orvanel-cli [--src PREFIX] [--dst PREFIX] [--show GROUP=PROTO[,PROTO...]]...
                   [--save-last DIR] --read FILE...
       orvanel-cli --help

Counts and lists the IPv4 packets of capture files as the Orvanel dialog
counts and lists live traffic.

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
  --read FILE...   read these pcap or pcapng files, in order, as one stream.
                   Link types: Ethernet (802.1Q/802.1ad tags too), Linux
                   cooked v1 and v2, BSD null and loop, raw IP, IPv4.
                   Frames without an IPv4 datagram are skipped, not counted;
                   datagrams longer than 2048 bytes are cut to 2048.
  --help           show this text.

Output: one line per listed row in the order rows are added, seven columns
separated by tabs (protocol, source address, source port, destination
address, destination port, total length, payload). The payload is escaped:
bytes 0x20-0x7e stand for themselves except '\', written '\\'; every other
byte is written \xHH. Then five counter lines:
  #all, #src, #dst, #other   each followed by the TCP, UDP, ICMP and OTHER counts
  #errors                    followed by the receive-error count

Exit status: 0 on success; 2 with a one-line error on stderr for bad options,
an unreadable, unsupported or damaged capture file (the rows and counters of
what was read before the damage are printed first).
)";
}

}  // namespace orvanel::cli
