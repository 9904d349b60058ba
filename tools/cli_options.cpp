#include "tools/cli_options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <span>

#include "tools/traffic_names.h"

namespace orvanel::cli {
namespace {

// The boxes of a group that can be listed, by its name; none for "all" and unknown names.
std::optional<GroupBoxes> ShownGroupBoxes(std::string_view name) {
  for (const GroupName& group : kGroupNames) {
    if (group.name != name) continue;
    switch (group.group) {
      case TrafficGroup::Source: return kSourceBoxes;
      case TrafficGroup::Destination: return kDestinationBoxes;
      case TrafficGroup::Other: return kOtherBoxes;
      case TrafficGroup::All: break;
    }
  }
  return std::nullopt;
}

// Ticks the boxes of one "GROUP=PROTO[,PROTO...]"; false when it names
// something unknown.
bool TickShown(std::string_view value, CliOptions& options) {
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos) return false;
  const std::optional<GroupBoxes> group = ShownGroupBoxes(value.substr(0, equals));
  const std::string_view protocols = value.substr(equals + 1);
  if (!group || protocols.empty()) return false;
  std::array<int, kCaptureOptionCount> boxes = options.boxes;
  boxes[static_cast<int>(group->enable)] = kChecked;
  constexpr int kListed = 3;  // TCP, UDP and ICMP; OTHER is never listed
  for (std::size_t start = 0; start <= protocols.size();) {
    const std::size_t comma = std::min(protocols.find(',', start), protocols.size());
    const std::string_view protocol = protocols.substr(start, comma - start);
    int index = 0;
    while (index < kListed && kProtocolNames[index] != protocol) ++index;
    if (index == kListed) return false;
    boxes[static_cast<int>(ProtocolBox(*group, static_cast<ProtocolClass>(index)))] = kChecked;
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

// HOST:PORT, with an IPv6 host in brackets.
std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
  const std::string_view portText = text.substr(colon + 1);
  int port = -1;
  const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port < 0 ||
      port > 65535 || (host.find(':') != std::string_view::npos && !text.starts_with('['))) {
    return std::nullopt;
  }
  return ListenAddress{std::string(host), port};
}

constexpr std::string_view kFlags[] = {"--help",          "--version", "--list-addresses",  "--quiet",
                                       "--conversations", "--time",    "--program-metrics", "--wait-for-address"};
constexpr std::string_view kValueOptions[] = {"--address",
                                              "--count",
                                              "--seconds",
                                              "--src",
                                              "--dst",
                                              "--show",
                                              "--save-last",
                                              "--write",
                                              "--format",
                                              "--metrics-listen",
                                              "--metrics-file",
                                              "--filter",
                                              "--conversation-limit",
                                              "--metrics-allow",
                                              "--web-config"};

bool Contains(std::span<const std::string_view> names, std::string_view name) {
  return std::ranges::find(names, name) != names.end();
}

// Sets the option of one of kValueOptions; the error when the value is bad.
std::optional<std::string> SetValue(std::string_view name, std::string_view value, CliOptions& options) {
  const std::string quoted = " '" + std::string(value) + "'";
  if (name == "--address") {
    options.address = value;
  } else if (name == "--count") {
    const auto count = ParseCount(value);
    if (!count) return "bad --count" + quoted + ": expected a whole number from 1 to 2147483647";
    options.count = *count;
  } else if (name == "--seconds") {
    const auto seconds = ParseSeconds(value);
    if (!seconds) return "bad --seconds" + quoted + ": expected a number above 0, at most a year";
    options.seconds = *seconds;
  } else if (name == "--src") {
    options.srcFilter = value;
  } else if (name == "--dst") {
    options.dstFilter = value;
  } else if (name == "--show") {
    if (!TickShown(value, options)) {
      return "bad --show" + quoted +
             ": expected GROUP=PROTO[,PROTO...] with GROUP src, dst or other and PROTO "
             "tcp, udp or icmp";
    }
  } else if (name == "--save-last") {
    if (value.empty()) return "--save-last needs a directory";
    options.saveDirectory = value;
    options.boxes[static_cast<int>(CaptureOption::SaveLast)] = kChecked;
  } else if (name == "--write") {
    if (value.empty()) return "--write needs a file";
    options.writeFile = value;
  } else if (name == "--filter") {
    options.rowFilter = value;
  } else if (name == "--format") {
    if (value != "tsv" && value != "json") return "bad --format" + quoted + ": expected tsv or json";
    options.format = value == "json" ? OutputFormat::Json : OutputFormat::Tsv;
  } else if (name == "--metrics-listen") {
    options.metricsListen = ParseListenAddress(value);
    if (!options.metricsListen) return "bad --metrics-listen" + quoted + ": expected HOST:PORT, PORT 0 to 65535";
  } else if (name == "--metrics-file") {
    if (value.empty()) return "--metrics-file needs a file";
    options.metricsFile = value;
  } else if (name == "--metrics-allow") {
    // Empty lets an environment file leave it unset.
    if (!value.empty()) options.metricsAllow = AllowList::Parse(value);
    if (!value.empty() && !options.metricsAllow) {
      return "bad --metrics-allow" + quoted + ": expected CIDR[,CIDR...], each an IPv4 or IPv6 ADDRESS[/BITS]";
    }
  } else if (name == "--web-config") {
    options.webConfig = value;
  } else if (name == "--conversation-limit") {
    const auto limit = ParseCount(value);
    if (!limit) return "bad --conversation-limit" + quoted + ": expected a whole number from 1 to 2147483647";
    options.conversationLimit = *limit;
  }
  return std::nullopt;
}

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string_view>& arguments) {
  CliOptions options;
  auto fail = [](std::string error) { return ParseResult{std::nullopt, std::move(error)}; };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view name = arguments[i];
    std::optional<std::string_view> attached;  // the value of --option=value
    if (const std::size_t equals = name.find('='); IsOption(name) && equals != std::string_view::npos) {
      attached = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (name == "-h") name = "--help";
    if (Contains(kFlags, name)) {
      if (attached) return fail(std::string(name) + " takes no value");
      if (name == "--help") options.help = true;
      if (name == "--version") options.version = true;
      if (name == "--list-addresses") options.listAddresses = true;
      if (name == "--quiet") options.quiet = true;
      if (name == "--conversations") options.conversations = true;
      if (name == "--time") options.time = true;
      if (name == "--program-metrics") options.programMetrics = true;
      if (name == "--wait-for-address") options.waitForAddress = true;
    } else if (name == "--read") {
      const std::size_t before = options.readFiles.size();
      if (attached) options.readFiles.emplace_back(*attached);
      while (i + 1 < arguments.size() && !IsOption(arguments[i + 1])) options.readFiles.emplace_back(arguments[++i]);
      if (options.readFiles.size() == before) return fail("--read needs at least one FILE");
    } else if (Contains(kValueOptions, name)) {
      if (!attached && i + 1 == arguments.size()) return fail(std::string(name) + " needs an argument");
      const std::string_view value = attached ? *attached : arguments[++i];
      if (auto error = SetValue(name, value, options)) return fail(std::move(*error));
    } else if (IsOption(name)) {
      return fail("unknown option '" + std::string(name) + "'");
    } else {
      return fail("unexpected argument '" + std::string(name) + "'");
    }
  }
  if (options.help || options.version) return {std::move(options), {}};
  const int modes = !options.readFiles.empty() + options.address.has_value() + options.listAddresses;
  if (modes == 0) return fail("nothing to do: give --read FILE..., --address ADDRESS or --list-addresses");
  if (modes > 1) return fail("give only one of --read, --address and --list-addresses");
  if ((options.count != 0 || options.seconds != 0) && !options.address) {
    return fail("--count and --seconds need --address");
  }
  if (options.metricsListen && !options.address) return fail("--metrics-listen needs --address");
  if ((options.metricsAllow || !options.webConfig.empty()) && !options.metricsListen) {
    return fail("--metrics-allow and --web-config need --metrics-listen");
  }
  if (options.programMetrics && !options.address) return fail("--program-metrics needs --address");
  if (options.waitForAddress && !options.address) return fail("--wait-for-address needs --address");
  // Waiting would never end for what cannot be an address.
  if (in_addr parsed; options.waitForAddress && inet_pton(AF_INET, options.address->c_str(), &parsed) != 1) {
    return fail("--address " + *options.address + " is not a dotted IPv4 address");
  }
  return {std::move(options), {}};
}

std::string_view VersionText() { return "orvanel-cli " ORVANEL_VERSION "\n"; }

std::string_view UsageText() {
  return R"(Usage: orvanel-cli [OPTION]... --read FILE...
  or:  orvanel-cli [OPTION]... [LIVE OPTION]... --address ADDRESS
  or:  orvanel-cli --list-addresses
  or:  orvanel-cli --help | --version
OPTION is one of --src PREFIX, --dst PREFIX, --show GROUP=PROTO[,PROTO...],
--save-last DIR, --filter EXPR, --write FILE, --format FORMAT, --time, --quiet,
--conversations, --conversation-limit N and --metrics-file PATH; LIVE
OPTION one of --count N, --seconds S, --metrics-listen HOST:PORT,
--metrics-allow CIDR[,CIDR...], --web-config FILE, --program-metrics and
--wait-for-address.

Counts and lists IPv4 packets as the Orvanel dialog does: read from capture
files, or captured live on one of this machine's own addresses. Every option
that takes a value may also be written --option=VALUE.

Options:
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
                   DIR must be an existing directory reached through no
                   symbolic link. A packet that cannot be saved is counted
                   as not saved (see OUTPUT), its file removed rather than
                   left holding part of it; the first says why on stderr.
  --filter EXPR    list (and --write) only the rows that --show chooses and
                   the capture-filter expression EXPR takes, in the syntax of
                   tcpdump and libpcap (udp port 53, src net 10.0.0.0/8,
                   icmp[icmptype] == icmp-echo), run on each IPv4 datagram;
                   len is its IPv4 total length. The counters do not change. A bad EXPR exits with status 2
                   and libpcap's reason.
  --format FORMAT  tsv (the default) or json: how rows and counters are
                   printed (see OUTPUT and JSON OUTPUT).
  --time           put each row's capture time first, in local time to the
                   microsecond (2024-05-01 13:45:07.123456): the first
                   field of a TSV line, "time" in a JSON row.
  --quiet          print no rows; they are still counted, and the counters
                   are still printed at the end.
  --conversations  also print the conversations after the counters (see
                   CONVERSATIONS).
  --conversation-limit N
                   hold at most N conversations (1 to 2147483647); when
                   more come, the least recently active are folded into one
                   row. Default: 1000000.
  --write FILE     also write the listed rows to FILE as pcapng (link type
                   IPv4, nanosecond capture times), created readable by its
                   owner only; tcpdump -r and Wireshark read it.
  --read FILE...   read these pcap or pcapng files, in order, as one stream;
                   gzip, zstd, lz4 and xz compressed ones are decompressed
                   as they are read.
                   Link types: Ethernet (802.1Q/802.1ad tags too), Linux
                   cooked v1 and v2, BSD null and loop, raw IP, IPv4, PPP
                   (bare or in HDLC framing), Cisco HDLC, SLIP, and 802.11
                   data frames with LLC/SNAP, bare or behind radiotap.
                   Frames without an IPv4 datagram are skipped, not counted;
                   datagrams longer than 2048 bytes are cut to 2048.
  --address ADDRESS
                   capture live on the interface that holds ADDRESS, one of
                   the addresses --list-addresses prints (exact text): what
                   the machine sends and receives there, and in promiscuous
                   mode what passes between other hosts. Runs until --count
                   or --seconds is reached, or until SIGINT (Ctrl-C) or
                   SIGTERM; then takes what the kernel has already captured
                   (within about 10 ms) and prints as --read does. Needs root,
                   CAP_NET_RAW, or the group orvanel (see README). When
                   the interface goes away, ADDRESS is looked up once a
                   second and the capture goes on wherever it shows up
                   again, under any name; a run that gave up its
                   capabilities (--metrics-listen) cannot, and ends with
                   status 1 and "orvanel-cli: the interface of ADDRESS
                   went away".
  --wait-for-address
                   live: when ADDRESS is not (yet) this machine's, say so
                   and look it up once a second until it is, instead of
                   exiting with status 2. The exporter unit uses it.
  --count N        live: stop once N packets were counted in #all
                   (1 to 2147483647). Default: no limit.
  --seconds S      live: stop after S seconds (may have decimals, at most a
                   year). Default: no limit.
  --metrics-listen HOST:PORT
                   live: serve the metrics (see METRICS) over HTTP at
                   http://HOST:PORT/metrics while capturing; other paths
                   give 404. An empty HOST means every IPv4 address, an IPv6
                   HOST goes in brackets, PORT 0 takes a free port. Once
                   capturing it says on stderr where:
                   "orvanel-cli: metrics on http://HOST:PORT/metrics"
                   (https with TLS).
  --metrics-allow CIDR[,CIDR...]
                   live: serve the metrics only to clients whose address is
                   in one of these IPv4 or IPv6 prefixes (ADDRESS/BITS, or a
                   bare ADDRESS); others are closed as they connect, before
                   they send anything. Empty: every client (the default).
  --web-config FILE
                   live: TLS and basic auth for the metrics, from FILE in the
                   web configuration format of Prometheus exporters (see
                   README): tls_server_config (cert_file, key_file,
                   client_auth_type NoClientCert or
                   RequireAndVerifyClientCert, client_ca_file, min_version)
                   and basic_auth_users (user: bcrypt hash). Unknown keys
                   are an error. Re-read on SIGHUP; a bad new file keeps the
                   old one and says why on stderr. Empty: none. (A live
                   capture without it ignores SIGHUP.)
  --program-metrics
                   live: the metrics also give bytes and packets per local
                   program (see METRICS).
  --metrics-file PATH
                   write the metrics to PATH at the start, every second and
                   at the end, each time whole (a file beside it, then
                   renamed over it), e.g. for node_exporter's textfile
                   collector. Works with --read too.
  --list-addresses
                   print this machine's IPv4 addresses, one a line, in the
                   order the dialog offers them: interfaces that are up,
                   others first, loopback last.
  -h, --help       show this text.
  --version        show the version.

Output:
  One line per listed row in the order rows are added, seven columns
  separated by tabs (protocol, source address, source port, destination
  address, destination port, total length, payload). ICMP rows have empty
  ports. The ports and the payload are read where the IPv4 header length
  (and, for TCP, the data offset) puts them, and are empty when those bytes
  are missing; a later fragment has no ports and its data is the payload.
  The payload runs up to its first zero byte. It is escaped: bytes 0x20-0x7e stand for themselves except
  '\', written '\\'; every other byte is written \xHH. Then five counter
  lines and four byte lines:
    #all, #src, #dst, #other   each followed by the TCP, UDP, ICMP and OTHER counts
    #errors                    followed by the receive-error count
    #bytes_all, #bytes_src, #bytes_dst, #bytes_other
                               the bytes (IPv4 total length) of those packets
  A live capture writes two lines on stderr, once packets are being captured
  and at the end:

    orvanel-cli: capturing on ADDRESS

    orvanel-cli: N receive failures, M dropped by the kernel, K not listed, I interface interruptions, S not saved

  (K: rows whose line could not be written; I: the times the interface went
  away, each a gap of unknown size; S: packets --save-last could not save).
  A read ends with that line too when S is not 0. A capture that cannot
  start says which step failed and why.

JSON output:
  With --format json, one JSON object a line. Each listed row has these keys,
  each value a string, the column's text as the tab-separated line has it
  (the payload escaped the same way):
    protocol, source_address, source_port, destination_address,
    destination_port, length, payload
  and payload_base64, the payload's bytes in base64, from its start to the
  datagram's end, zeros included. The last line holds
  the counters as numbers, grouped as the counter lines are, with the bytes:
    {"counters":{"all":{"tcp":N,"udp":N,"icmp":N,"other":N},"src":{...},
    "dst":{...},"other":{...},"errors":N,"bytes":{"all":{...},"src":{...},
    "dst":{...},"other":{...}}}}

Conversations:
  Every counted packet is in exactly one conversation: for TCP and UDP the
  protocol, address and port A, address and port B, in either direction; for
  other protocols (and TCP or UDP datagrams too short for their ports) the
  protocol and the two addresses. A later fragment goes to its first
  fragment's conversation when that was seen (same addresses, protocol and
  identification, within 30 s), else to its address pair's conversation
  without ports. A is the source of the first packet seen. Each keeps, per
  direction, packets and bytes (IPv4 total length) and the first and last
  capture times. With --conversations, after the counters, largest total
  bytes first, one line each:
    #conv  protocol a a_port b b_port packets_a_to_b bytes_a_to_b
           packets_b_to_a bytes_b_to_a first last program
  protocol is tcp, udp, icmp or the protocol number; ports are empty when
  there are none; first and last are seconds since the epoch with nine
  decimals. program (live only) is the local process that owns a TCP or UDP
  conversation's end at an address of this machine, as its name and PID
  (curl (4711)), or the socket owner (用户 root) when the process cannot be
  seen; empty when no socket was found. When conversations were folded, one line holds them all:
    #conv_folded  count packets_a_to_b bytes_a_to_b packets_b_to_a
                  bytes_b_to_a first last
  With --format json, one line {"conversations":[...]}: objects with
  protocol, a, a_port, b, b_port (no ports when there are none),
  packets_a_to_b, bytes_a_to_b, packets_b_to_a, bytes_b_to_a, first, last
  (numbers), program and pid where known, and folded (false); the folded
  row has count instead of the protocol, addresses and ports, and folded
  true.

Metrics:
  In the Prometheus text format 0.0.4; counters are 64-bit, count from the
  start of this run and never go back:
    orvanel_packets_total{protocol}        every packet seen (#all)
    orvanel_group_packets_total{group,protocol}
                                           group source, destination or
                                           neither (#src, #dst, #other)
    orvanel_bytes_total{protocol}          bytes of every packet seen, by its
                                           IPv4 total length (#bytes_all)
    orvanel_group_bytes_total{group,protocol}
                                           the same by group (#bytes_src, ...)
    orvanel_receive_errors_total           failed receives (#errors)
    orvanel_kernel_drops_total             packets the kernel dropped
    orvanel_interface_interruptions_total  times the interface went away
    orvanel_rows_listed_total              rows listed (as --show chooses)
    orvanel_packets_not_saved_total        listed packets --save-last could
                                           not save
    orvanel_capture_info{address,interface,source_filter,destination_filter}
                                           always 1; the labels tell the capture
    orvanel_build_info{version}            always 1
  With --program-metrics, the traffic of conversations with an end at this
  machine by the program found for that end (see CONVERSATIONS; "" for
  none yet or none found), direction in or out of this machine:
    orvanel_program_bytes_total{program,direction}
    orvanel_program_packets_total{program,direction}
    orvanel_program_other_conversations_total
                                           conversations counted under
                                           program "other": past the first
                                           100 program names
  protocol is tcp, udp, icmp or other. Label values hold the texts as given
  (empty address and interface for --read); bytes that are not UTF-8 become
  U+FFFD.

Exit status:
  0 on success; 2 with a one-line error on stderr for bad options, a
  --save-last DIR that is not a directory (or is reached through a symbolic
  link), a --write FILE or metrics file that cannot be written (the
  system's reason: "No space left on device", "File too large" past the
  file size limit; nothing is left beside it), an output (--write,
  --metrics-file or a --save-last file) that is
  one of the files to read (the same file by device and inode; it is left
  untouched), an unreadable, empty, unsupported or damaged capture file (the
  rows and counters of what was read before the damage are printed first),
  an ADDRESS that is not one of this machine's (without --wait-for-address),
  or a --web-config FILE that cannot be read or is bad (it says the line); 1
  with a one-line error on stderr when a live capture cannot start (no right
  to capture, no address list, binding or receive mode refused), the metrics
  address cannot be listened on, the interface went away after the
  capabilities were given up, or the address list cannot be read or is
  empty; 128 + N when signal N (SIGINT, SIGTERM, SIGHUP) stopped a read: what
  was read is printed, and --write leaves FILE as it was.
)";
}

}  // namespace orvanel::cli
