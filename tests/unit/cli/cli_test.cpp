// Runs the built orvanel-cli on capture files the tests write themselves.
#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <arpa/inet.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "capture/datagram_details.h"
#include "capture/program_meter.h"
#include "tests/support/capture_files.h"
#include "tests/support/cli_process.h"
#include "tests/support/datagram_builder.h"
#include "tests/support/promtool_check.h"
#include "tests/support/recording_table.h"
#include "tests/support/scripted_loop.h"
#include "tools/allow_list.h"
#include "tools/metrics_text.h"
#include "tools/web_config.h"

namespace orvanel::test {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  std::string out;
  std::string err;
  int status = -1;  // exit status, -1 when it did not exit normally
};

class CliTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (directory_.path() / name).string(); }
  const fs::path& Directory() const { return directory_.path(); }

  CliRun Run(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), ORVANEL_CLI_PATH);
    CliProcess cli(arguments, directory_.path());
    CliRun run;
    run.status = cli.Wait(std::chrono::seconds(60));
    run.out = cli.Out();
    run.err = cli.Err();
    return run;
  }

  // A bad input: nothing on stdout, one error line, status 2.
  void ExpectRejected(const std::vector<std::string>& arguments, const std::string& mention) const {
    const CliRun run = Run(arguments);
    EXPECT_EQ(run.status, 2) << mention;
    EXPECT_EQ(run.out, "") << mention;
    EXPECT_TRUE(run.err.starts_with("orvanel-cli: ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(mention), std::string::npos) << run.err;
  }

 private:
  const ScratchDirectory directory_{"orvanel-cli-test"};
};

Bytes Udp(const std::string& source, std::uint16_t sourcePort, const std::string& destination,
          std::uint16_t destinationPort, const std::string& payload) {
  return Datagram{.protocol = kProtocolUDP,
                  .source = source,
                  .destination = destination,
                  .sourcePort = sourcePort,
                  .destinationPort = destinationPort,
                  .payload = payload}
      .Bytes();
}

constexpr const char* kNoRows =
    "#all\t0\t0\t0\t0\n#src\t0\t0\t0\t0\n#dst\t0\t0\t0\t0\n#other\t0\t0\t0\t0\n#errors\t0\n"
    "#bytes_all\t0\t0\t0\t0\n#bytes_src\t0\t0\t0\t0\n#bytes_dst\t0\t0\t0\t0\n#bytes_other\t0\t0\t0\t0\n";

// The counter lines when every datagram was UDP and matched both filters.
std::string UdpCounterLines(int datagrams, int bytes) {
  const auto udp = [](int value) { return "\t0\t" + std::to_string(value) + "\t0\t0\n"; };
  return "#all" + udp(datagrams) + "#src" + udp(datagrams) + "#dst" + udp(datagrams) +
         "#other\t0\t0\t0\t0\n#errors\t0\n#bytes_all" + udp(bytes) + "#bytes_src" + udp(bytes) + "#bytes_dst" +
         udp(bytes) + "#bytes_other\t0\t0\t0\t0\n";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

TEST_F(CliTest, EthernetFramesWithTagsAreCountedAndListedAsTheBoxesSay) {
  const Bytes tcp = Datagram{.protocol = kProtocolTCP,
                             .source = "10.0.0.1",
                             .destination = "93.184.216.34",
                             .sourcePort = 40000,
                             .destinationPort = 80,
                             .payload = "GET /"}
                        .Bytes();
  const Bytes icmp = Datagram{.protocol = kProtocolICMP, .source = "10.0.0.1", .destination = "10.0.0.1"}.Bytes();
  const Bytes gre = Datagram{.protocol = 47, .source = "10.0.0.2", .destination = "10.0.0.3"}.Bytes();
  Bytes padded = Ethernet(Udp("10.0.0.2", 1, "10.0.0.3", 2, "hi"));
  padded.resize(60, 0xEE);  // link padding is not part of the datagram
  const std::vector<Bytes> frames = {
      Ethernet(tcp),
      Ethernet(Udp("93.184.216.34", 53, "10.0.0.1", 5353, "ans"), 0x0800, {0x8100}),
      Ethernet(icmp, 0x0800, {0x88a8, 0x8100}),
      Ethernet(Bytes(28, 1), 0x0806),               // ARP
      Ethernet(Bytes(40, 0x60), 0x86dd),            // IPv6
      Ethernet(Bytes(40, 0x45), 0x0806, {0x8100}),  // ARP behind a tag
      Ethernet(gre, 0x0800, {0x9100}),
      padded,
      Ethernet(Udp("10.0.0.1", 7, "10.0.0.9", 9, "a\\b\t\x7f\xff~ ")),
      Bytes{0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2, 0x08},  // too short for its type
  };
  WritePcap(Path("ether.pcap"), DLT_EN10MB, frames);
  const CliRun run = Run({"--src", "10.0.0.1", "--dst", "10.0.0.1", "--show", "src=tcp,udp", "--show", "dst=udp",
                          "--show", "other=udp,icmp", "--read", Path("ether.pcap")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "TCP\t10.0.0.1\t40000\t93.184.216.34\t80\t45\tGET /\n"
            "UDP\t93.184.216.34\t53\t10.0.0.1\t5353\t31\tans\n"
            "UDP\t10.0.0.2\t1\t10.0.0.3\t2\t30\thi\n"
            "UDP\t10.0.0.1\t7\t10.0.0.9\t9\t36\ta\\\\b\\x09\\x7f\\xff~ \n"
            "#all\t1\t3\t1\t1\n"
            "#src\t1\t1\t1\t0\n"
            "#dst\t0\t1\t1\t0\n"
            "#other\t0\t1\t0\t1\n"
            "#errors\t0\n"
            // Bytes as the length column gives them, the ICMP echo 28 and the GRE header 20.
            "#bytes_all\t45\t97\t28\t20\n"
            "#bytes_src\t45\t36\t28\t0\n"
            "#bytes_dst\t0\t31\t28\t0\n"
            "#bytes_other\t0\t30\t0\t20\n");
}

TEST_F(CliTest, EveryOtherLinkTypeAndSeveralFilesReadAsOneStream) {
  auto udp = [](const std::string& text) { return Udp("10.0.0.1", 1000, "10.0.0.2", 2000, text); };
  // Each file also holds frames cut short inside their link header, or with
  // nothing after it: skipped like every frame without a datagram.
  WritePcap(Path("sll.pcap"), DLT_LINUX_SLL,
            {CookedV1(udp("sll1")), CookedV1(udp("ipv6"), 0x86dd),
             Concat({CookedV1({}, 0x8100), Be16(0x0005), Be16(0x0800), udp("sll1-vlan")}), Bytes(15, 0), CookedV1({}),
             Concat({CookedV1({}, 0x8100), Be16(0x0005)})});
  WritePcap(Path("sll2.pcap"), DLT_LINUX_SLL2,
            {CookedV2(udp("arp"), 0x0806), CookedV2(udp("sll2")), Bytes{0x08, 0x00, 0, 0}});
  WritePcap(Path("null.pcap"), DLT_NULL,
            {Concat({{2, 0, 0, 0}, udp("null-le")}), Concat({{0, 0, 0, 2}, udp("null-be")}),
             Concat({{30, 0, 0, 0}, udp("inet6")}), Bytes{2, 0, 0}, Bytes{2, 0, 0, 0}});
  WritePcap(Path("loop.pcap"), DLT_LOOP, {Concat({{0, 0, 0, 2}, udp("loop")}), Concat({{2, 0, 0, 0}, udp("le")})});
  Bytes ipv6 = udp("raw6");
  ipv6[0] = 0x60;
  WritePcap(Path("raw.pcap"), DLT_RAW, {ipv6, udp("raw"), Bytes{}});
  WritePcap(Path("ipv4.pcap"), DLT_IPV4, {udp("ipv4")});
  WritePcapng(Path("ether.pcapng"), DLT_EN10MB, {Ethernet(udp("pcapng"))});
  const CliRun run = Run({"--show", "src=udp", "--read", Path("sll.pcap"), Path("sll2.pcap"), Path("null.pcap"),
                          Path("loop.pcap"), Path("raw.pcap"), Path("ipv4.pcap"), Path("ether.pcapng")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  std::string expected;
  int bytes = 0;
  for (const char* text : {"sll1", "sll1-vlan", "sll2", "null-le", "null-be", "loop", "raw", "ipv4", "pcapng"}) {
    bytes += 28 + std::strlen(text);
    expected += "UDP\t10.0.0.1\t1000\t10.0.0.2\t2000\t" + std::to_string(28 + std::strlen(text)) + "\t" + text + "\n";
  }
  // No filters given: every address matches both, so nothing falls in Other.
  expected += UdpCounterLines(9, bytes);
  EXPECT_EQ(run.out, expected);
}

TEST_F(CliTest, MoreLinkTypesThatCarryIPv4) {
  auto udp = [](const std::string& text) { return Udp("10.0.0.1", 1000, "10.0.0.2", 2000, text); };
  const Bytes hdlc = {0xff, 0x03};
  WritePcap(Path("ppp.pcap"), DLT_PPP,
            {Concat({hdlc, Be16(0x0021), udp("ppp")}), Concat({Be16(0x0021), udp("ppp-bare")}),
             Concat({{0x21}, udp("ppp-short-protocol")}), Concat({hdlc, Be16(0x0057), udp("ipv6")}),
             Concat({hdlc, Be16(0xc021), udp("lcp")}), Bytes{0xff, 0x03, 0x00}});
  WritePcap(Path("ppp_hdlc.pcap"), DLT_PPP_SERIAL,
            {Concat({hdlc, Be16(0x0021), udp("ppp-hdlc")}), Concat({{0x8f, 0x00}, Be16(0x0800), udp("ppp-cisco")}),
             Concat({{0x0f, 0x00}, Be16(0x86dd), udp("ipv6")})});
  WritePcap(Path("chdlc.pcap"), DLT_C_HDLC,
            {Concat({{0x0f, 0x00}, Be16(0x0800), udp("chdlc")}), Concat({{0x0f, 0x00}, Be16(0x8035), udp("rarp")}),
             Concat({{0x42, 0x00}, Be16(0x0800), udp("bad-address")})});
  const Bytes slipHeader(14, 0);  // the compressed-header area, unused for plain IP
  WritePcap(Path("slip.pcap"), DLT_SLIP,
            {Concat({{0x00, 0x40}, slipHeader, udp("slip")}), Concat({{0x01, 0x70}, slipHeader, udp("vj-tcp")}),
             Concat({{0x01, 0x40}, slipHeader})});
  // 802.11: frame control, duration, three addresses, sequence control.
  auto wifi = [](std::uint8_t control, std::uint8_t flags, const Bytes& body, std::uint16_t sequence = 0x0010) {
    return Concat(
        {{control, flags, 0, 0}, Bytes(18, 0x02), {std::uint8_t(sequence), std::uint8_t(sequence >> 8)}, body});
  };
  const Bytes snap = {0xaa, 0xaa, 0x03, 0, 0, 0};
  const Bytes fcs = {0xde, 0xad, 0xbe, 0xef};  // past the datagram, like link padding
  WritePcap(Path("wifi.pcap"), DLT_IEEE802_11,
            {wifi(0x08, 0x01, Concat({snap, Be16(0x0800), udp("wifi-data"), fcs})),
             // QoS data between two access points: a fourth address, QoS control and HT control
             wifi(0x88, 0x83, Concat({Bytes(6, 0x04), {0x00, 0x00}, Bytes(4, 0), snap, Be16(0x0800), udp("wifi-qos")})),
             wifi(0x88, 0x02, Concat({{0x80, 0x00}, snap, Be16(0x0800), udp("a-msdu")})),
             wifi(0x08, 0x41, Concat({snap, Be16(0x0800), udp("protected")})), wifi(0x48, 0x01, {}),  // null function
             wifi(0x80, 0x00, Concat({snap, Be16(0x0800), udp("beacon")})),                           // management
             wifi(0x08, 0x04, Concat({snap, Be16(0x0800), udp("first-fragment")})),
             wifi(0x08, 0x00, Concat({snap, Be16(0x0800), udp("later-fragment")}), 0x0011),
             wifi(0x08, 0x00, Concat({{0xaa, 0xaa, 0x03, 0x00, 0x00, 0xf8}, Be16(0x0800), udp("wifi-tunnel")})),
             wifi(0x08, 0x00, Concat({{0xaa, 0xaa, 0x03, 0x08, 0x00, 0x07}, Be16(0x0800), udp("other-oui")})),
             Bytes(10, 0x08)});
  // Radiotap: version, pad, length, presence words, fields. The second has
  // TSFT and flags with "frame has FCS" and "802.11 header padded".
  const Bytes plain = {0, 0, 8, 0, 0, 0, 0, 0};
  const Bytes padded =
      Concat({{0, 0, 32, 0}, Le32(0x80000003), Le32(0x00000000), Bytes(4, 0), Bytes(8, 0x11), {0x30}, Bytes(7, 0)});
  WritePcap(
      Path("radiotap.pcap"), DLT_IEEE802_11_RADIO,
      {Concat({plain, wifi(0x08, 0x02, Concat({snap, Be16(0x0800), udp("radiotap")}))}),
       Concat({padded,
               wifi(0x88, 0x01, Concat({{0x00, 0x00}, Bytes(2, 0), snap, Be16(0x0800), udp("radiotap-padded"), fcs}))}),
       Concat({{1, 0, 8, 0, 0, 0, 0, 0}, wifi(0x08, 0x02, Concat({snap, Be16(0x0800), udp("version-1")}))}),
       Bytes{0, 0, 40, 0, 0, 0, 0, 0}});
  const CliRun run = Run({"--show", "src=udp", "--read", Path("ppp.pcap"), Path("ppp_hdlc.pcap"), Path("chdlc.pcap"),
                          Path("slip.pcap"), Path("wifi.pcap"), Path("radiotap.pcap")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  std::string expected;
  int bytes = 0;
  for (const char* text : {"ppp", "ppp-bare", "ppp-short-protocol", "ppp-hdlc", "ppp-cisco", "chdlc", "slip",
                           "wifi-data", "wifi-qos", "wifi-tunnel", "radiotap", "radiotap-padded"}) {
    bytes += 28 + std::strlen(text);
    expected += "UDP\t10.0.0.1\t1000\t10.0.0.2\t2000\t" + std::to_string(28 + std::strlen(text)) + "\t" + text + "\n";
  }
  expected += UdpCounterLines(12, bytes);
  EXPECT_EQ(run.out, expected);
}

TEST_F(CliTest, JsonRowsAreTheTsvRowsWithTheRawPayload) {
  const std::string payload = std::string("a\\b\"\t\x7f\xff~ \0after", 15);  // the text stops at the zero
  const std::vector<Bytes> frames = {
      Ethernet(Datagram{.protocol = kProtocolTCP, .payload = "GET /"}.Bytes()),
      Ethernet(Udp("10.0.0.1", 7, "10.0.0.9", 9, payload)),
      Ethernet(Datagram{.protocol = kProtocolICMP}.Bytes()),
      Ethernet(Datagram{.protocol = 47}.Bytes()),
      Ethernet(Udp("10.0.0.1", 7, "10.0.0.9", 9, "")),
  };
  WritePcap(Path("mixed.pcap"), DLT_EN10MB, frames);
  const std::vector<std::string> show = {"--show", "src=tcp,udp,icmp", "--read", Path("mixed.pcap")};
  const CliRun tsv = Run(show);
  std::vector<std::string> jsonArguments = show;
  jsonArguments.insert(jsonArguments.begin(), {"--format", "json"});
  const CliRun json = Run(jsonArguments);
  ASSERT_EQ(tsv.status, 0);
  ASSERT_EQ(json.status, 0) << json.err;
  const std::vector<std::string> tsvLines = Split(tsv.out, '\n');
  const std::vector<std::string> jsonLines = Split(json.out, '\n');
  ASSERT_EQ(tsvLines.size(), 13u);  // four rows, five counter lines, four byte lines
  ASSERT_EQ(jsonLines.size(), 5u);  // four rows, one counter object
  const std::string keys[] = {"protocol",         "source_address", "source_port", "destination_address",
                              "destination_port", "length",         "payload"};
  const std::string base64[] = {"R0VUIC8=", "YVxiIgl//34gAGFmdGVy", "", ""};  // the payloads' bytes
  for (int row = 0; row < 4; ++row) {
    SCOPED_TRACE(tsvLines[row]);
    const auto object = nlohmann::json::parse(jsonLines[row]);
    ASSERT_EQ(object.size(), 8u) << jsonLines[row];
    std::vector<std::string> columns = Split(tsvLines[row], '\t');
    columns.resize(7);  // trailing empty columns
    for (int column = 0; column < 7; ++column) EXPECT_EQ(object.at(keys[column]), columns[column]) << keys[column];
    EXPECT_EQ(object.at("payload_base64"), base64[row]);
  }
  const auto counters = nlohmann::json::parse(jsonLines[4]).at("counters");
  const std::pair<std::string, std::string> groups[] = {
      {"all", "#all"}, {"src", "#src"}, {"dst", "#dst"}, {"other", "#other"}};
  const auto line = [](const std::string& label, const nlohmann::json& counts) {
    return label + "\t" + std::to_string(counts.at("tcp").get<std::uint64_t>()) + "\t" +
           std::to_string(counts.at("udp").get<std::uint64_t>()) + "\t" +
           std::to_string(counts.at("icmp").get<std::uint64_t>()) + "\t" +
           std::to_string(counts.at("other").get<std::uint64_t>());
  };
  for (int group = 0; group < 4; ++group) {
    const auto& [name, label] = groups[group];
    EXPECT_EQ(line(label, counters.at(name)), tsvLines[4 + group]);
    EXPECT_EQ(line("#bytes_" + name, counters.at("bytes").at(name)), tsvLines[9 + group]);
  }
  EXPECT_EQ("#errors\t" + std::to_string(counters.at("errors").get<int>()), tsvLines[8]);
  EXPECT_EQ(counters.at("bytes").at("all").at("tcp"), 45);
  // --time: the capture time first, local to the microsecond; the rest unchanged.
  setenv("TZ", "UTC", 1);
  std::vector<std::string> timed = show;
  timed.insert(timed.begin(), "--time");
  const std::vector<std::string> timedLines = Split(Run(timed).out, '\n');
  timed.insert(timed.begin(), {"--format", "json"});
  const std::vector<std::string> timedJson = Split(Run(timed).out, '\n');
  unsetenv("TZ");
  ASSERT_EQ(timedLines.size(), tsvLines.size());
  EXPECT_EQ(timedLines[1], "2023-11-14 22:13:20.000001\t" + tsvLines[1]);
  EXPECT_EQ(timedLines[4], tsvLines[4]);
  ASSERT_EQ(timedJson.size(), jsonLines.size());
  EXPECT_EQ(timedJson[1], R"({"time":"2023-11-14 22:13:20.000001",)" + jsonLines[1].substr(1));
  // Quiet: the counters alone.
  jsonArguments.insert(jsonArguments.begin(), "--quiet");
  EXPECT_EQ(Run(jsonArguments).out, jsonLines[4] + "\n");

  // The conversations after the counters, largest total bytes first, as
  // objects and as "#conv" lines.
  jsonArguments.insert(jsonArguments.begin(), "--conversations");
  const CliRun conversations = Run(jsonArguments);
  std::vector<std::string> tsvArguments = show;
  tsvArguments.insert(tsvArguments.begin(), {"--quiet", "--conversations"});
  const std::vector<std::string> convLines = Split(Run(tsvArguments).out, '\n');
  ASSERT_EQ(conversations.status, 0) << conversations.err;
  const std::vector<std::string> lines = Split(conversations.out, '\n');
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], jsonLines[4]);
  const auto all = nlohmann::json::parse(lines[1]).at("conversations");
  ASSERT_EQ(all.size(), 4u);
  ASSERT_EQ(convLines.size(), 13u);
  const auto udp = all[0];  // two datagrams, the most bytes
  EXPECT_EQ(udp.at("protocol"), "udp");
  EXPECT_EQ(udp.at("a"), "10.0.0.1");
  EXPECT_EQ(udp.at("a_port"), 7);
  EXPECT_EQ(udp.at("b"), "10.0.0.9");
  EXPECT_EQ(udp.at("b_port"), 9);
  EXPECT_EQ(udp.at("packets_a_to_b"), 2);
  EXPECT_EQ(udp.at("bytes_a_to_b"), 28 + 15 + 28);
  EXPECT_EQ(udp.at("packets_b_to_a"), 0);
  EXPECT_EQ(udp.at("bytes_b_to_a"), 0);
  EXPECT_DOUBLE_EQ(udp.at("first").get<double>(), 1700000000.000001);
  EXPECT_DOUBLE_EQ(udp.at("last").get<double>(), 1700000000.000004);
  EXPECT_EQ(udp.at("folded"), false);
  // A file's conversations have no program: the last column is empty, the JSON has none.
  EXPECT_EQ(convLines[9],
            "#conv\tudp\t10.0.0.1\t7\t10.0.0.9\t9\t2\t71\t0\t0\t1700000000.000001000\t"
            "1700000000.000004000\t");
  EXPECT_FALSE(udp.contains("program"));
  EXPECT_EQ(all[1].at("protocol"), "tcp");
  for (const auto& portless : {all[2], all[3]}) {
    EXPECT_FALSE(portless.contains("a_port")) << portless;
    EXPECT_FALSE(portless.contains("b_port")) << portless;
  }
  EXPECT_EQ(all[3].at("protocol"), "47");
  EXPECT_EQ(convLines[12],
            "#conv\t47\t10.0.0.1\t\t10.0.0.2\t\t1\t20\t0\t0\t1700000000.000003000\t"
            "1700000000.000003000\t");
}

TEST_F(CliTest, RowsAgreeWithTheDetailsDecoder) {
  const std::vector<Bytes> datagrams = {
      Datagram{.protocol = kProtocolUDP,
               .sourcePort = 39001,
               .destinationPort = 5354,
               .ipOptions = {0x94, 0x04, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0},
               .payload = "ping"}
          .Bytes(),
      Datagram{.protocol = kProtocolTCP,
               .sourcePort = 443,
               .destinationPort = 51000,
               .tcpOptions = {1, 1, 8, 10, 0, 0, 0, 1, 0, 0, 0, 2},
               .payload = "HTTP/1.1 200 OK"}
          .Bytes(),
  };
  std::vector<Bytes> frames;
  for (const Bytes& datagram : datagrams) frames.push_back(Ethernet(datagram));
  WritePcap(Path("options.pcap"), DLT_EN10MB, frames);
  const CliRun run = Run({"--show", "src=tcp,udp", "--read", Path("options.pcap")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Split(run.out, '\n');
  for (std::size_t row = 0; row < datagrams.size(); ++row) {
    SCOPED_TRACE(lines[row]);
    const std::vector<std::string> columns = Split(lines[row], '\t');
    const std::vector<DetailLayer> layers = DescribeDatagram(datagrams[row]);
    ASSERT_EQ(layers.size(), 3u);  // IPv4, the transport header, its data
    const auto value = [](const DetailLayer& layer, DetailFieldId id) {
      for (const DetailField& field : layer.fields) {
        if (field.id == id) return std::to_string(field.value);
      }
      return std::string("(none)");
    };
    EXPECT_EQ(columns[2], value(layers[1], DetailFieldId::SourcePort));
    EXPECT_EQ(columns[4], value(layers[1], DetailFieldId::DestinationPort));
    const std::size_t dataLength = std::stoul(value(layers[2], DetailFieldId::DataLength));
    EXPECT_EQ(columns[6],
              std::string(datagrams[row].end() - static_cast<std::ptrdiff_t>(dataLength), datagrams[row].end()));
  }
}

TEST_F(CliTest, MetricsFileOfARead) {
  WritePcap(Path("two.pcap"), DLT_EN10MB,
            {Ethernet(Udp("10.0.0.1", 1, "10.0.0.2", 2, "x")), Ethernet(Datagram{.protocol = 47}.Bytes())});
  // Filters full of what the format must escape, and bytes that are no UTF-8.
  const std::string source = "10.\"\\\n", destination = "\xff\xc3(\xe2\x82\xac";
  const CliRun run = Run({"--src", source, "--dst", destination, "--show", "other=udp", "--metrics-file",
                          Path("orvanel.prom"), "--read", Path("two.pcap")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string metrics = FileContents(Path("orvanel.prom"));
  EXPECT_EQ(PromtoolFindings(metrics, Directory()), "");
  for (const char* line :
       {"orvanel_packets_total{protocol=\"udp\"} 1\n", "orvanel_packets_total{protocol=\"other\"} 1\n",
        "orvanel_group_packets_total{group=\"neither\",protocol=\"udp\"} 1\n",
        "orvanel_group_packets_total{group=\"neither\",protocol=\"other\"} 1\n",
        "orvanel_bytes_total{protocol=\"udp\"} 29\n", "orvanel_bytes_total{protocol=\"other\"} 20\n",
        "orvanel_group_bytes_total{group=\"neither\",protocol=\"udp\"} 29\n",
        "orvanel_group_bytes_total{group=\"source\",protocol=\"udp\"} 0\n", "orvanel_rows_listed_total 1\n",
        "orvanel_kernel_drops_total 0\n", "orvanel_packets_not_saved_total 0\n",
        "orvanel_capture_info{address=\"\",interface=\"\",source_filter=\"10.\\\"\\\\\\n\","
        "destination_filter=\"\xef\xbf\xbd\xef\xbf\xbd(\xe2\x82\xac\"} 1\n"}) {
    EXPECT_NE(metrics.find(line), std::string::npos) << line << "\nin\n" << metrics;
  }
  EXPECT_FALSE(fs::exists(Path("orvanel.prom.tmp")));
  ExpectRejected({"--metrics-file", Path("missing/orvanel.prom"), "--read", Path("two.pcap")},
                 "cannot write the metrics file " + Path("missing/orvanel.prom"));
}

// Each distinct orvanel_ metric name in text.
std::set<std::string> MetricNames(const std::string& text) {
  static const std::regex kMetric("\\borvanel_[a-z_]+");
  std::set<std::string> names;
  for (std::sregex_iterator match(text.begin(), text.end(), kMetric); match != std::sregex_iterator(); ++match) {
    names.insert(match->str());
  }
  return names;
}

// The shipped dashboard and alerting rules name only metrics the exporter
// serves, and every dashboard query is PromQL that Prometheus parses.
TEST_F(CliTest, DashboardAndAlertsUseOnlyServedMetrics) {
  WritePcap(Path("one.pcap"), DLT_EN10MB, {Ethernet(Udp("10.0.0.1", 1, "10.0.0.2", 2, "x"))});
  ASSERT_EQ(Run({"--metrics-file", Path("orvanel.prom"), "--read", Path("one.pcap")}).status, 0);
  std::set<std::string> served;
  // --program-metrics is live only: its families as it serves them.
  std::istringstream page(FileContents(Path("orvanel.prom")) + cli::ProgramMetricsText({}, 0));
  for (std::string line; std::getline(page, line);) {
    if (line.starts_with("# TYPE ")) served.insert(Split(line, ' ')[2]);
  }

  const auto dashboard = nlohmann::json::parse(std::ifstream(ORVANEL_CONTRIB_DIR "/grafana/orvanel-dashboard.json"));
  std::vector<std::string> queries;
  for (const auto& panel : dashboard.at("panels")) {
    for (const auto& target : panel.at("targets")) queries.push_back(target.at("expr"));
  }
  std::set<std::string> variables;
  std::string variableQueries;
  for (const auto& variable : dashboard.at("templating").at("list")) {
    variables.insert(variable.at("name"));
    if (variable.at("type") == "query") variableQueries += variable.at("query").at("query").get<std::string>();
  }
  EXPECT_TRUE(variables.contains("instance") && variables.contains("address"));
  std::string rules;
  std::ifstream ruleFile(ORVANEL_CONTRIB_DIR "/prometheus/orvanel-alerts.yml");
  for (std::string line; std::getline(ruleFile, line);) {
    if (line.find("expr:") != std::string::npos) rules += line + "\n";
  }
  std::set<std::string> used = MetricNames(variableQueries + rules);
  for (const std::string& query : queries) used.merge(MetricNames(query));
  for (const std::string& name : used) EXPECT_TRUE(served.contains(name)) << name << " is not served";
  for (const char* shown : {"orvanel_bytes_total", "orvanel_packets_total", "orvanel_group_bytes_total",
                            "orvanel_group_packets_total", "orvanel_kernel_drops_total", "orvanel_receive_errors_total",
                            "orvanel_rows_listed_total", "orvanel_capture_info", "orvanel_program_bytes_total"}) {
    EXPECT_TRUE(used.contains(shown)) << shown << " is not on the dashboard";
  }

  // The panel queries as recording rules, the dashboard's variables filled in.
  std::ofstream recorded(Path("dashboard.yml"));
  recorded << "groups:\n  - name: dashboard\n    rules:\n";
  for (std::size_t index = 0; index < queries.size(); ++index) {
    std::string expression = std::regex_replace(queries[index], std::regex("\\$__rate_interval"), "5m");
    expression = std::regex_replace(expression, std::regex("\\$(instance|address)"), ".*");
    recorded << "      - record: dashboard_query_" << index << "\n        expr: '" << expression << "'\n";
  }
  recorded.close();
  EXPECT_EQ(std::system(("promtool check rules " + Path("dashboard.yml") + " >/dev/null").c_str()), 0);
}

// 150 programs: the first 100 names are labels, the rest count as "other";
// a conversation without a program counts under "", one not of this
// machine nowhere; a sweep adds only what came since the last.
TEST(ProgramMetrics, AtMostAHundredNamesAreLabelsAndTheRestIsOther) {
  std::vector<ScriptedSource::Step> steps;
  for (std::uint16_t port = 1; port <= 150; ++port) {
    steps.push_back(PacketStep(Datagram{.sourcePort = port, .destinationPort = 53}));
  }
  const Datagram reply{
      .source = "10.0.0.2", .destination = "10.0.0.1", .sourcePort = 53, .destinationPort = 1, .payload = "answer"};
  steps.push_back(PacketStep(reply));
  steps.push_back(PacketStep(Datagram{.source = "10.0.0.7", .destination = "10.0.0.8"}));
  ConversationTable table;
  const auto feed = [&table](std::vector<ScriptedSource::Step> feedSteps) {
    ScriptedSource source(std::move(feedSteps));
    const ScriptedOptions options([](CaptureOption, int) { return 0; });
    RecordingTable rows;
    PacketCounters counters;
    const std::atomic<bool> capturing{true};
    CaptureThreadProc({capturing, source, counters, options, rows, "", "", nullptr, &table});
  };
  feed(steps);
  // Slots go in order of the first packet: the 150th conversation has no program.
  const ProgramFinder programOf = [](ConversationId id) -> std::optional<ConversationProgram> {
    if (id.slot >= 149) return std::nullopt;
    return ConversationProgram{"p" + std::to_string(id.slot), 1000 + static_cast<int>(id.slot)};
  };
  std::uint32_t local = 0;  // 10.0.0.1, the datagrams' default source
  std::memcpy(&local, Datagram{}.Bytes().data() + 12, sizeof local);
  const auto isLocal = [local](std::uint32_t address) { return address == local; };
  ProgramMeter meter;
  meter.Sweep(table, programOf, isLocal);
  meter.Sweep(table, programOf, isLocal);  // nothing new

  const auto totals = meter.Totals();
  ASSERT_EQ(totals.size(), 102u);  // 100 names, "other" and ""
  EXPECT_EQ(meter.OtherConversations(), 49u);
  const std::uint64_t size = Datagram{.sourcePort = 1, .destinationPort = 53}.Bytes().size();
  EXPECT_EQ(totals.at("p0").bytes[1], size);                  // out
  EXPECT_EQ(totals.at("p0").bytes[0], reply.Bytes().size());  // in
  EXPECT_EQ(totals.at("p0").packets[0], 1u);
  EXPECT_EQ(totals.at("p99").packets[1], 1u);
  EXPECT_FALSE(totals.contains("p100"));
  EXPECT_EQ(totals.at(ProgramMeter::kOtherLabel).packets[1], 49u);
  EXPECT_EQ(totals.at("").packets[1], 1u);

  feed({PacketStep(Datagram{.sourcePort = 1, .destinationPort = 53})});
  meter.Sweep(table, programOf, isLocal);
  EXPECT_EQ(meter.Totals().at("p0").packets[1], 2u);
  EXPECT_EQ(meter.Totals().size(), 102u);

  const std::string text = cli::ProgramMetricsText(meter.Totals(), meter.OtherConversations());
  EXPECT_NE(
      text.find("orvanel_program_bytes_total{program=\"p0\",direction=\"out\"} " + std::to_string(2 * size) + "\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("orvanel_program_other_conversations_total 49\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * (2 + 102 * 2) + 3);
}

TEST_F(CliTest, OversizeDatagramsAreCutAndListedPacketsSaved) {
  const fs::path dump = Path("dump");
  fs::create_directory(dump);
  const Bytes big = Udp("10.0.0.1", 1, "10.0.0.2", 2, std::string(3000, 'x'));
  const Bytes tcp = Datagram{.protocol = kProtocolTCP, .payload = "keep"}.Bytes();
  const Bytes icmp = Datagram{.protocol = kProtocolICMP}.Bytes();
  WritePcap(Path("big.pcap"), DLT_EN10MB, {Ethernet(big), Ethernet(tcp), Ethernet(icmp)});
  const CliRun run = Run({"--show", "src=udp,tcp", "--save-last", dump.string(), "--read", Path("big.pcap")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "UDP\t10.0.0.1\t1\t10.0.0.2\t2\t3028\t" + std::string(2048 - 28, 'x') +
                         "\n"
                         "TCP\t10.0.0.1\t1234\t10.0.0.2\t80\t44\tkeep\n"
                         "#all\t1\t1\t1\t0\n#src\t1\t1\t1\t0\n#dst\t1\t1\t1\t0\n#other\t0\t0\t0\t0\n#errors\t0\n"
                         // The header's length of the cut datagram, as its row shows it.
                         "#bytes_all\t44\t3028\t28\t0\n#bytes_src\t44\t3028\t28\t0\n#bytes_dst\t44\t3028\t28\t0\n"
                         "#bytes_other\t0\t0\t0\t0\n");
  EXPECT_EQ(FileContents(dump / "buf_UDP.txt"), std::string(big.begin(), big.begin() + 2048));
  EXPECT_EQ(FileContents(dump / "buf_TCP.txt"), std::string(tcp.begin(), tcp.end()));
  EXPECT_FALSE(fs::exists(dump / "buf_ICMP.txt"));  // counted, not listed
}

TEST_F(CliTest, WriteKeepsTheListedDatagramsAsPcapngThatLibpcapReads) {
  const Bytes big = Udp("10.0.0.1", 1, "10.0.0.2", 2, std::string(3000, 'x'));
  const Bytes padded = Udp("10.0.0.3", 3, "10.0.0.4", 4, "pad");
  const Bytes icmp = Datagram{.protocol = kProtocolICMP}.Bytes();
  // Link padding past the total length is not part of the datagram.
  WritePcap(Path("in.pcap"), DLT_EN10MB, {Ethernet(big), Ethernet(Concat({padded, Bytes(9, 0)})), Ethernet(icmp)});
  // The first record's seconds 0xFFFFFFFF, a second before the epoch as libpcap reads them.
  std::fstream(Path("in.pcap"), std::ios::in | std::ios::out | std::ios::binary).seekp(24).write("\xff\xff\xff\xff", 4);
  const CliRun run = Run({"--show", "src=udp", "--write", Path("out.pcapng"), "--read", Path("in.pcap")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::status(Path("out.pcapng")).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  char error[PCAP_ERRBUF_SIZE];
  pcap_t* file = pcap_open_offline_with_tstamp_precision(Path("out.pcapng").c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(pcap_datalink(file), DLT_IPV4);
  std::vector<Bytes> packets;
  std::vector<pcap_pkthdr> headers;
  pcap_pkthdr* header;
  const u_char* data;
  while (pcap_next_ex(file, &header, &data) == 1) {
    packets.emplace_back(data, data + header->caplen);
    headers.push_back(*header);
  }
  pcap_close(file);
  ASSERT_EQ(packets.size(), 2u);  // the ICMP datagram was counted, not listed
  EXPECT_EQ(packets[0], Bytes(big.begin(), big.begin() + 2048));
  EXPECT_EQ(headers[0].len, big.size());  // cut: the header says how long it was
  // Before the epoch stays at it, as past 2262 stays there.
  EXPECT_EQ(headers[0].ts.tv_sec, 0);
  EXPECT_EQ(headers[0].ts.tv_usec, 0);
  EXPECT_EQ(packets[1], padded);
  EXPECT_EQ(headers[1].len, padded.size());
  // The input's times, microsecond 1 of the second, kept to the nanosecond.
  EXPECT_EQ(headers[1].ts.tv_sec, 1700000000);
  EXPECT_EQ(headers[1].ts.tv_usec, 1000);

  ExpectRejected({"--write", Path("no/such/dir/out.pcapng"), "--read", Path("in.pcap")}, "no/such/dir/out.pcapng");

  // --filter narrows the rows listed and written; the counters stay as they were.
  const CliRun narrowed = Run({"--show", "src=udp", "--filter", "udp and dst port 4", "--write", Path("narrow.pcapng"),
                               "--read", Path("in.pcap")});
  ASSERT_EQ(narrowed.status, 0) << narrowed.err;
  EXPECT_EQ(narrowed.out.substr(narrowed.out.find("#all")), run.out.substr(run.out.find("#all")));
  EXPECT_EQ(narrowed.out.find("10.0.0.1\t"), std::string::npos);
  EXPECT_EQ(narrowed.out.find("UDP\t10.0.0.3\t3\t10.0.0.4\t4\t"), 0u);
  file = pcap_open_offline(Path("narrow.pcapng").c_str(), error);
  ASSERT_NE(file, nullptr) << error;
  int written = 0;
  while (pcap_next_ex(file, &header, &data) == 1) ++written;
  pcap_close(file);
  EXPECT_EQ(written, 1);
}

bool HoldsNameStartingWith(const fs::path& directory, const std::string& prefix) {
  return std::ranges::any_of(fs::directory_iterator(directory),
                             [&](const auto& entry) { return entry.path().filename().string().starts_with(prefix); });
}

// Past the file size limit a write fails with EFBIG, which is told instead
// of the signal ending the run; a signal stops a read. Either way --write
// leaves its FILE as it was with nothing beside it, and a last-packet file
// that could not take its packet is not left holding part of it.
TEST_F(CliTest, AFailedOrStoppedRunSaysWhyAndLeavesNothingBehind) {
  const Bytes small = Udp("10.0.0.1", 1, "10.0.0.2", 2, "s");
  const Bytes big = Udp("10.0.0.1", 1, "10.0.0.2", 2, std::string(1500, 'x'));
  WritePcap(Path("in.pcap"), DLT_EN10MB, {Ethernet(small), Ethernet(big), Ethernet(big)});
  fs::create_directory(Path("dump"));
  std::ofstream(Path("out.pcapng")) << "before";
  // sh counts ulimit -f in 512-byte blocks.
  CliProcess limited({"/bin/sh", "-c", "ulimit -f 1 && exec \"$0\" \"$@\"", ORVANEL_CLI_PATH, "--quiet", "--show",
                      "src=udp", "--save-last", Path("dump"), "--write", Path("out.pcapng"), "--read", Path("in.pcap")},
                     Directory());
  EXPECT_EQ(limited.Wait(std::chrono::seconds(60)), 2);
  EXPECT_EQ(limited.Err(), "orvanel-cli: cannot save packets in --save-last '" + Path("dump") +
                               "/buf_UDP.txt': File too large\n"
                               "orvanel-cli: 0 receive failures, 0 dropped by the kernel, 0 not listed, 0 interface "
                               "interruptions, 2 not saved\n"
                               "orvanel-cli: " +
                               Path("out.pcapng") + ": File too large\n");
  EXPECT_EQ(FileContents(Path("out.pcapng")), "before");
  EXPECT_FALSE(HoldsNameStartingWith(Directory(), "out.pcapng."));
  EXPECT_TRUE(fs::is_empty(Path("dump")));

  // A pipe that never ends: the read waits on it until the signal.
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  const int pipe = open(Path("pipe").c_str(), O_RDWR);
  ASSERT_GE(pipe, 0);
  const std::string capture = FileContents(Path("in.pcap"));
  ASSERT_EQ(write(pipe, capture.data(), capture.size()), static_cast<ssize_t>(capture.size()));
  CliProcess stopped(
      {ORVANEL_CLI_PATH, "--quiet", "--show", "src=udp", "--write", Path("out.pcapng"), "--read", Path("pipe")},
      Directory());
  for (int wait = 0; wait < 6000 && !HoldsNameStartingWith(Directory(), "out.pcapng."); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a hang guard: made after the signal is taken
  }
  ASSERT_TRUE(stopped.Signal(SIGINT));
  close(pipe);  // ends the stream, should the signal come before the read waits
  EXPECT_EQ(stopped.Wait(std::chrono::seconds(60)), 128 + SIGINT);
  EXPECT_TRUE(stopped.Out().starts_with("#all\t0\t3\t0\t0\n")) << stopped.Out();
  EXPECT_EQ(stopped.Err(), "orvanel-cli: the read was stopped: Interrupt\n");
  EXPECT_EQ(FileContents(Path("out.pcapng")), "before");
  EXPECT_FALSE(HoldsNameStartingWith(Directory(), "out.pcapng."));
}

TEST_F(CliTest, ATruncatedFileYieldsWhatWasReadAndAnError) {
  std::vector<Bytes> frames;
  for (const char* text : {"one", "two", "three"}) frames.push_back(Ethernet(Udp("1.2.3.4", 5, "6.7.8.9", 10, text)));
  WritePcap(Path("cut.pcap"), DLT_EN10MB, frames);
  fs::resize_file(Path("cut.pcap"), fs::file_size(Path("cut.pcap")) - 10);
  WritePcap(Path("after.pcap"), DLT_EN10MB, {frames[0]});
  const CliRun run = Run({"--show", "dst=udp", "--src", "9.", "--read", Path("cut.pcap"), Path("after.pcap")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "UDP\t1.2.3.4\t5\t6.7.8.9\t10\t31\tone\n"
            "UDP\t1.2.3.4\t5\t6.7.8.9\t10\t31\ttwo\n"
            "#all\t0\t2\t0\t0\n#src\t0\t0\t0\t0\n#dst\t0\t2\t0\t0\n#other\t0\t0\t0\t0\n#errors\t0\n"
            "#bytes_all\t0\t62\t0\t0\n#bytes_src\t0\t0\t0\t0\n#bytes_dst\t0\t62\t0\t0\n#bytes_other\t0\t0\t0\t0\n");
  EXPECT_TRUE(run.err.starts_with("orvanel-cli: " + Path("cut.pcap") + ": ")) << run.err;
  EXPECT_NE(run.err.find("truncated"), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  // An empty capture is fine; a header cut short is not a capture file.
  WritePcap(Path("empty.pcap"), DLT_EN10MB, {});
  const CliRun empty = Run({"--read", Path("empty.pcap")});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, kNoRows);
  fs::resize_file(Path("empty.pcap"), 10);
  ExpectRejected({"--read", Path("empty.pcap")}, Path("empty.pcap"));
  fs::resize_file(Path("empty.pcap"), 0);
  ExpectRejected({"--read", Path("empty.pcap")}, Path("empty.pcap") + ": the file is empty");
}

// gzip, zstd, lz4 and xz files, made by their own tools, read as the plain
// file, from a pipe too; cut short or damaged, they say so after what was read.
TEST_F(CliTest, CompressedCapturesReadAsThePlainFile) {
  std::vector<Bytes> frames;
  for (int i = 0; i < 3000; ++i) {
    frames.push_back(Ethernet(Udp("1.2.3.4", std::uint16_t(i), "6.7.8.9", 10, std::string(i % 200, 'a' + i % 26))));
  }
  WritePcap(Path("plain.pcap"), DLT_EN10MB, frames);
  const CliRun plain = Run({"--show", "dst=udp", "--src", "9.", "--read", Path("plain.pcap")});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const auto shell = [&](const std::string& command) {
    return std::system(("cd '" + Directory().string() + "' && " + command).c_str());
  };
  ASSERT_EQ(shell("gzip -k plain.pcap && zstd -q plain.pcap && lz4 -q plain.pcap plain.pcap.lz4 && xz -k plain.pcap"),
            0);
  // Two gzip members one after the other are one stream, as gzip -d reads them.
  ASSERT_EQ(shell("head -c 10000 plain.pcap | gzip > two.pcap.gz && tail -c +10001 plain.pcap | gzip >> two.pcap.gz"),
            0);
  for (const char* name : {"plain.pcap.gz", "plain.pcap.zst", "plain.pcap.lz4", "plain.pcap.xz", "two.pcap.gz"}) {
    const CliRun run = Run({"--show", "dst=udp", "--src", "9.", "--read", Path(name)});
    EXPECT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_EQ(run.out, plain.out) << name;
  }
  CliProcess piped({"/bin/sh", "-c", "cat \"$1\" | \"$0\" --show dst=udp --src 9. --read /dev/stdin", ORVANEL_CLI_PATH,
                    Path("plain.pcap.zst")},
                   Directory());
  EXPECT_EQ(piped.Wait(std::chrono::seconds(60)), 0) << piped.Err();
  EXPECT_EQ(piped.Out(), plain.out);

  for (const char* name : {"plain.pcap.gz", "plain.pcap.zst", "plain.pcap.xz"}) {
    fs::resize_file(Path(name), fs::file_size(Path(name)) / 2);
    const CliRun cut = Run({"--read", Path(name), "--quiet"});
    EXPECT_EQ(cut.status, 2) << name;
    EXPECT_TRUE(cut.err.starts_with("orvanel-cli: " + Path(name) + ": truncated")) << cut.err;
    EXPECT_GT(std::stoi(Split(cut.out, '\t').at(2)), 100) << name << ": what was read is counted";
  }
  // Damaged (a frame header of a version to come): the library's reason.
  {
    std::fstream file(Path("plain.pcap.lz4"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4);
    file.put('\xff');
  }
  const CliRun damaged = Run({"--read", Path("plain.pcap.lz4"), "--quiet"});
  EXPECT_EQ(damaged.status, 2);
  EXPECT_TRUE(damaged.err.starts_with("orvanel-cli: " + Path("plain.pcap.lz4") + ": lz4: ")) << damaged.err;
}

TEST_F(CliTest, BadInputIsRejectedWithOneLine) {
  WritePcap(Path("good.pcap"), DLT_EN10MB, {Ethernet(Udp("1.1.1.1", 1, "2.2.2.2", 2, "x"))});
  WritePcap(Path("usb.pcap"), DLT_USB_LINUX, {Bytes(48, 0)});
  std::ofstream(Path("text.pcap")) << "not a capture file at all\n";
  const std::string good = Path("good.pcap");
  ExpectRejected({"--bogus", "--read", good}, "unknown option '--bogus'");
  ExpectRejected({"--program-metrics", "--read", good}, "--program-metrics needs --address");
  ExpectRejected({"--read", good, "--src"}, "--src needs an argument");
  ExpectRejected({"--filter", "udp and port", "--read", good},
                 "bad --filter 'udp and port': can't parse filter expression: syntax error");
  ExpectRejected({"--read", good, "--save-last"}, "--save-last needs an argument");
  ExpectRejected({"--read", good, "--save-last", ""}, "--save-last needs a directory");
  ExpectRejected({"--show", "all=tcp", "--read", good}, "bad --show 'all=tcp'");
  ExpectRejected({"--show", "src=ftp", "--read", good}, "bad --show 'src=ftp'");
  ExpectRejected({"--show", "src", "--read", good}, "bad --show 'src'");
  ExpectRejected({"--show", "src=", "--read", good}, "bad --show 'src='");
  ExpectRejected({"--show", "src=tcp,,udp", "--read", good}, "bad --show");
  ExpectRejected({"--read"}, "--read needs at least one FILE");
  ExpectRejected({"--read", "--src", "1"}, "--read needs at least one FILE");
  ExpectRejected({"--address"}, "--address needs an argument");
  for (const char* count : {"0", "-1", "x", "3x", "", "2147483648"}) {
    ExpectRejected({"--address", "127.0.0.1", "--count", count}, "bad --count '" + std::string(count) + "'");
  }
  for (const char* seconds : {"0", "-1", "x", "", "nan", "inf", "1e9"}) {
    ExpectRejected({"--address", "127.0.0.1", "--seconds", seconds}, "bad --seconds '" + std::string(seconds) + "'");
  }
  ExpectRejected({"--count", "3", "--read", good}, "--count and --seconds need --address");
  ExpectRejected({"--seconds", "3", "--list-addresses"}, "--count and --seconds need --address");
  ExpectRejected({"--address", "127.0.0.1", "--read", good}, "only one of");
  ExpectRejected({"--list-addresses", "--address", "127.0.0.1"}, "only one of");
  ExpectRejected({}, "--read FILE");
  ExpectRejected({good}, "unexpected argument");
  ExpectRejected({"--read", good, Path("missing.pcap")}, Path("missing.pcap"));
  ExpectRejected({"--read", Path("text.pcap")}, Path("text.pcap"));
  ExpectRejected({"--read", Path("usb.pcap")}, "not supported");
  ExpectRejected({"--read", Path("")}, Path(""));
  ExpectRejected({"--help=yes"}, "--help takes no value");
  ExpectRejected({"--quiet=1", "--read", good}, "--quiet takes no value");
  ExpectRejected({"--format", "xml", "--read", good}, "bad --format 'xml'");
  ExpectRejected({"--format=", "--read", good}, "bad --format ''");
  ExpectRejected({"--metrics-file=", "--read", good}, "--metrics-file needs a file");
  ExpectRejected({"--metrics-listen", "127.0.0.1:9100", "--read", good}, "--metrics-listen needs --address");
  for (const char* listen : {"9100", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:-1", "::1:9100", "[::1]:x"}) {
    ExpectRejected({"--address", "127.0.0.1", "--metrics-listen", listen},
                   "bad --metrics-listen '" + std::string(listen));
  }
  const std::vector<std::string> serving = {"--address", "10.9.8.7", "--metrics-listen", "127.0.0.1:0"};
  for (const char* allow : {"10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "::1/129", "10.0.0.0/8,", "x", "10.0.0.0/8x"}) {
    auto arguments = serving;
    arguments.insert(arguments.end(), {"--metrics-allow", allow});
    ExpectRejected(arguments, "bad --metrics-allow '" + std::string(allow) + "'");
  }
  ExpectRejected({"--address", "10.9.8.7", "--metrics-allow", "10.0.0.0/8"}, "need --metrics-listen");
  ExpectRejected({"--address", "10.9.8.7", "--web-config", good}, "need --metrics-listen");
  // A bad web config ends the run before anything is listened on or captured.
  std::ofstream(Path("web.yml")) << "basic_auth_users:\n  alice: plain\n";
  auto arguments = serving;
  arguments.insert(arguments.end(), {"--web-config", Path("web.yml")});
  ExpectRejected(arguments, "web config " + Path("web.yml") + " line 2: the password hash of 'alice' is not bcrypt");
  for (const std::string& directory : {Path("missing"), good}) {
    // Checked before anything is read or captured.
    ExpectRejected({"--save-last", directory, "--read", good}, "--save-last '" + directory + "'");
    ExpectRejected({"--save-last=" + directory, "--address", "10.9.8.7"}, "--save-last '" + directory + "'");
  }
  // An output that is one of the inputs, by any name, is refused before
  // anything is written: the input stays whole.
  const std::string before = FileContents(good);
  fs::create_hard_link(good, Path("link.pcap"));
  for (const std::string& output : {good, Path("link.pcap"), (Directory() / "." / "good.pcap").string()}) {
    ExpectRejected({"--write", output, "--read", Path("missing.pcap"), good},
                   "--write '" + output + "' is the file to read");
    ExpectRejected({"--metrics-file", output, "--read", good}, "--metrics-file '" + output + "' is the file to read");
  }
  fs::copy_file(good, Path("buf_UDP.txt"));  // a capture read from the dump directory
  ExpectRejected({"--save-last", Directory().string(), "--read", Path("buf_UDP.txt")},
                 "--save-last '" + Path("buf_UDP.txt") + "' is the file to read");
  EXPECT_EQ(FileContents(good), before);
  // The same good file with good options works.
  const CliRun run = Run({"--show", "src=tcp", "--src", "", "--read", good});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, UdpCounterLines(1, 29));
}

TEST_F(CliTest, OptionValuesMayFollowAnEqualsSign) {
  WritePcap(Path("one.pcap"), DLT_EN10MB, {Ethernet(Udp("10.0.0.1", 1, "10.0.0.2", 2, "a=b"))});
  const CliRun spaced =
      Run({"--src", "10.0.0.1", "--dst", "10.0.0.3", "--show", "src=udp", "--format", "json", "--metrics-file",
           Path("spaced.prom"), "--save-last", Directory().string(), "--read", Path("one.pcap"), Path("one.pcap")});
  const CliRun joined = Run({"--src=10.0.0.1", "--dst=10.0.0.3", "--show=src=udp", "--format=json",
                             "--metrics-file=" + Path("joined.prom"), "--save-last=" + Directory().string(),
                             "--read=" + Path("one.pcap"), Path("one.pcap")});
  EXPECT_EQ(spaced.status, 0);
  EXPECT_EQ(joined.status, 0);
  EXPECT_EQ(joined.err, "");
  EXPECT_EQ(joined.out, spaced.out);
  EXPECT_NE(joined.out.find("\"payload\":\"a=b\""), std::string::npos) << joined.out;
  EXPECT_EQ(FileContents(Path("joined.prom")), FileContents(Path("spaced.prom")));
  EXPECT_EQ(Run({"-h"}).out, Run({"--help"}).out);
}

TEST_F(CliTest, HelpDocumentsEveryOptionAndTheDefaults) {
  const CliRun version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("orvanel-cli 1.")) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1);
  const CliRun run = Run({"-h"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  for (const char* word : {"--src PREFIX",
                           "--dst PREFIX",
                           "--show GROUP=PROTO[,PROTO...]",
                           "--save-last DIR",
                           "--read FILE...",
                           "--help",
                           "Default: empty, which matches every address",
                           "#errors",
                           "pcapng",
                           "802.1Q",
                           "cooked",
                           "2048",
                           "\\xHH",
                           "--address ADDRESS",
                           "--count N",
                           "--seconds S",
                           "--list-addresses",
                           "SIGTERM",
                           "dropped by the kernel",
                           "Default: no limit",
                           "--format FORMAT",
                           "--quiet",
                           "--metrics-listen HOST:PORT",
                           "--metrics-allow CIDR[,CIDR...]",
                           "--web-config FILE",
                           "--metrics-file PATH",
                           "payload_base64",
                           "source_address",
                           "destination_port",
                           "orvanel_group_packets_total",
                           "--option=VALUE",
                           "PPP",
                           "Cisco HDLC",
                           "SLIP",
                           "radiotap",
                           "--write FILE",
                           "--version",
                           "device and inode",
                           "--program-metrics",
                           "orvanel_program_bytes_total"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
}

sockaddr_storage SocketAddress(const char* text) {
  sockaddr_storage address{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
  }
  return address;
}

TEST(MetricsAllow, MatchesPrefixesOfEitherFamily) {
  const auto list = cli::AllowList::Parse("10.1.0.0/16,192.0.2.7,2001:db8::/33,127.0.0.0/9");
  ASSERT_TRUE(list);
  const auto allows = [&](const char* text) {
    const sockaddr_storage address = SocketAddress(text);
    return list->Allows(reinterpret_cast<const sockaddr*>(&address));
  };
  for (const char* inside :
       {"10.1.0.0", "10.1.255.255", "192.0.2.7", "2001:db8::1", "2001:db8:7fff::", "127.127.0.1", "::ffff:10.1.2.3"}) {
    EXPECT_TRUE(allows(inside)) << inside;
  }
  for (const char* outside :
       {"10.2.0.0", "10.0.255.255", "192.0.2.8", "2001:db8:8000::", "127.128.0.1", "::10.1.2.3", "::ffff:10.2.0.1"}) {
    EXPECT_FALSE(allows(outside)) << outside;
  }
  const auto everything = cli::AllowList::Parse("0.0.0.0/0,::/0");
  ASSERT_TRUE(everything);
  const sockaddr_storage any = SocketAddress("203.0.113.9");
  EXPECT_TRUE(everything->Allows(reinterpret_cast<const sockaddr*>(&any)));
}

class WebConfigTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(directory_.path() / name) << text;
    return (directory_.path() / name).string();
  }
  // The error of reading text as a web config; empty when it was read.
  std::string Error(const std::string& text) const {
    std::string error;
    return cli::ReadWebConfig(Write("web.yml", text), error) ? "" : error;
  }

 private:
  const ScratchDirectory directory_{"orvanel-web-config"};
};

TEST_F(WebConfigTest, EachKindOfMistakeSaysItsLine) {
  // Without TLS, or empty, a file is good; files it names are read from its folder.
  Write("cert.pem", "CERT");
  EXPECT_EQ(Error(""), "");
  EXPECT_EQ(Error("basic_auth_users:\n  alice: $2y$04$" + std::string(53, 'a') + "\n"), "");
  const std::string tls = "tls_server_config:\n  cert_file: cert.pem\n  key_file: cert.pem\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"tls_server_config:\n  cert_file: cert.pem\n  key_file: cert.pem\n  ciphers: x\n",
       "line 4: unknown key 'ciphers' in tls_server_config"},
      {"http_server_config:\n  http2: true\n", "line 1: unknown key 'http_server_config'"},
      {"tls_server_config:\n  cert_file: cert.pem\n", "line 2: tls_server_config needs key_file"},
      {tls + "  key_file: cert.pem\n", "line 4: key 'key_file' given twice"},
      {"tls_server_config:\n  cert_file: missing.pem\n  key_file: cert.pem\n", "line 2: cannot read cert_file"},
      {tls + "  client_auth_type: RequireAnyClientCert\n", "line 4: client_auth_type 'RequireAnyClientCert'"},
      {tls + "  client_auth_type: RequireAndVerifyClientCert\n", "needs client_ca_file"},
      {tls + "  client_ca_file: cert.pem\n", "line 4: client_ca_file needs client_auth_type"},
      {tls + "  min_version: TLS14\n", "line 4: min_version 'TLS14'"},
      {tls + "  cert_file: [a, b]\n", "line 4: key 'cert_file' given twice"},
      {"tls_server_config:\n  cert_file: [a]\n  key_file: cert.pem\n", "line 2: cert_file must be a string"},
      {"basic_auth_users:\n  alice: $1$md5\n", "line 2: the password hash of 'alice' is not bcrypt"},
      {"basic_auth_users:\n  alice: $2y$04$short\n", "line 2: the password hash of 'alice' is not bcrypt"},
      {"basic_auth_users: [alice]\n", "line 1: basic_auth_users must be a mapping"},
      {"tls_server_config: {cert_file: x\n", " line "},
      {"- a\n", "line 1: the file must be a mapping"},
  };
  for (const auto& [text, mention] : cases) {
    const std::string error = Error(text);
    EXPECT_NE(error.find(mention), std::string::npos) << text << "\n" << error;
  }
  std::string error;
  EXPECT_FALSE(cli::ReadWebConfig((ScratchDirectory().path() / "none.yml").string(), error));
  EXPECT_NE(error.find("cannot read web config"), std::string::npos) << error;
}

}  // namespace
}  // namespace orvanel::test
