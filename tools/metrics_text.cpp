#include "tools/metrics_text.h"

#include "tools/traffic_names.h"

namespace orvanel::cli {
namespace {

// The length of the well-formed UTF-8 sequence at the start of text, 0 if
// there is none (a stray, overlong, surrogate or out-of-range encoding).
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  }
  return length;
}

void AppendFamily(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void AppendSample(std::string& out, std::string_view name, std::string_view labels, std::uint64_t value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out.append(" ").append(std::to_string(value)).append("\n");
}

// A label value as the format wants it: valid UTF-8 (each byte that is not
// becomes U+FFFD) with the backslash, the quote and the newline escaped.
void AppendLabelValue(std::string& out, std::string_view value) {
  while (!value.empty()) {
    const std::size_t length = Utf8SequenceLength(value);
    if (length == 0) {
      out += "\xef\xbf\xbd";  // U+FFFD REPLACEMENT CHARACTER
      value.remove_prefix(1);
      continue;
    }
    const char c = value[0];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.append(value.substr(0, length));
    }
    value.remove_prefix(length);
  }
}

std::string Label(std::string_view name, std::string_view value) {
  std::string label(name);
  label += "=\"";
  AppendLabelValue(label, value);
  label += '"';
  return label;
}

// One family by protocol (the All group) and one by group and protocol, from
// the same 64-bit totals.
template <typename Total>
void AppendProtocolFamilies(std::string& out, std::string_view unit, std::string_view what, Total total) {
  const std::string name = "orvanel_" + std::string(unit) + "_total";
  AppendFamily(out, name, "counter", std::string(what) + " seen, by protocol.");
  for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
    AppendSample(out, name, Label("protocol", kProtocolNames[protocol]),
                 total(TrafficGroup::All, static_cast<ProtocolClass>(protocol)));
  }
  const std::string groupName = "orvanel_group_" + std::string(unit) + "_total";
  AppendFamily(out, groupName, "counter",
               std::string(what) +
                   " whose source matches the source filter (source), whose destination matches "
                   "the destination filter (destination), or neither; source and destination overlap.");
  for (const GroupName& group : kGroupNames) {
    if (group.group == TrafficGroup::All) continue;  // the family by protocol alone
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      AppendSample(out, groupName,
                   Label("group", group.metricLabel) + "," + Label("protocol", kProtocolNames[protocol]),
                   total(group.group, static_cast<ProtocolClass>(protocol)));
    }
  }
}

}  // namespace

std::string MetricsText(const PacketCounters& counters, std::uint64_t rowsListed, std::uint64_t kernelDrops,
                        std::uint64_t interruptions, std::uint64_t packetsNotSaved, const CaptureLabels& labels) {
  std::string out;
  AppendProtocolFamilies(out, "packets", "IPv4 packets", [&](TrafficGroup group, ProtocolClass protocol) {
    return counters.RunningTotal(group, protocol);
  });
  AppendProtocolFamilies(
      out, "bytes", "Bytes of IPv4 packets (their total-length field)",
      [&](TrafficGroup group, ProtocolClass protocol) { return counters.RunningBytes(group, protocol); });
  AppendFamily(out, "orvanel_receive_errors_total", "counter", "Receives that failed.");
  AppendSample(out, "orvanel_receive_errors_total", "", counters.RunningReceiveErrors());
  AppendFamily(out, "orvanel_kernel_drops_total", "counter",
               "Packets the kernel dropped because the capture fell behind.");
  AppendSample(out, "orvanel_kernel_drops_total", "", kernelDrops);
  AppendFamily(out, "orvanel_interface_interruptions_total", "counter",
               "Times the capture's interface went away; capturing went on where its address came back.");
  AppendSample(out, "orvanel_interface_interruptions_total", "", interruptions);
  AppendFamily(out, "orvanel_rows_listed_total", "counter", "Rows listed, as --show chooses.");
  AppendSample(out, "orvanel_rows_listed_total", "", rowsListed);
  AppendFamily(out, "orvanel_packets_not_saved_total", "counter", "Listed packets --save-last could not save.");
  AppendSample(out, "orvanel_packets_not_saved_total", "", packetsNotSaved);
  AppendFamily(out, "orvanel_capture_info", "gauge", "The captured address, its interface and the two filters.");
  AppendSample(out, "orvanel_capture_info",
               Label("address", labels.address) + "," + Label("interface", labels.interface) + "," +
                   Label("source_filter", labels.sourceFilter) + "," +
                   Label("destination_filter", labels.destinationFilter),
               1);
  AppendFamily(out, "orvanel_build_info", "gauge", "The version of orvanel-cli.");
  AppendSample(out, "orvanel_build_info", Label("version", ORVANEL_VERSION), 1);
  return out;
}

std::string ProgramMetricsText(const std::map<std::string, ProgramTraffic>& totals, std::uint64_t otherConversations) {
  std::string out;
  for (const bool bytes : {true, false}) {
    const std::string name = bytes ? "orvanel_program_bytes_total" : "orvanel_program_packets_total";
    AppendFamily(out, name, "counter",
                 std::string(bytes ? "Bytes of IPv4 packets (their total-length field)" : "IPv4 packets") +
                     " of conversations with an end at this machine, by the local program (\"\" when unknown) and "
                     "direction.");
    for (const auto& [program, traffic] : totals) {
      for (const int way : {0, 1}) {
        AppendSample(out, name, Label("program", program) + "," + Label("direction", way == 0 ? "in" : "out"),
                     bytes ? traffic.bytes[way] : traffic.packets[way]);
      }
    }
  }
  AppendFamily(out, "orvanel_program_other_conversations_total", "counter",
               "Conversations counted under program \"other\": their program came after the first 100 names.");
  AppendSample(out, "orvanel_program_other_conversations_total", "", otherConversations);
  return out;
}

}  // namespace orvanel::cli
