// A real Prometheus server scraping orvanel-cli every second while known
// traffic flows, all on loopback in this test process's own network namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "tests/support/cli_process.h"
#include "tests/support/test_traffic.h"

namespace orvanel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A port nobody listens on; in this namespace nobody else takes it meanwhile.
int FreePort() {
  const UniqueFd probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return -1;
  }
  return ntohs(address.sin_port);
}

fs::path Subdirectory(const fs::path& parent, const std::string& name) {
  fs::create_directories(parent / name);
  return parent / name;
}

// Series of one instant query, keyed by the values of the labels asked for.
std::map<std::string, std::string> Query(httplib::Client& api, const std::string& query,
                                         const std::vector<std::string>& keyLabels) {
  std::map<std::string, std::string> series;
  const httplib::Result result = api.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
  if (!result || result->status != 200) return series;
  const nlohmann::json answer = nlohmann::json::parse(result->body);
  for (const auto& sample : answer.at("data").at("result")) {
    std::string key;
    for (const std::string& label : keyLabels) key += (key.empty() ? "" : "/") + sample.at("metric").value(label, "");
    series[key] = sample.at("value").at(1).get<std::string>();
  }
  return series;
}

TEST(Prometheus, ScrapesTheExactCountsOfAKnownFlow) {
  const ScratchDirectory scratch("orvanel-prometheus");
  CliProcess cli({ORVANEL_CLI_PATH, "--address", "127.0.0.1", "--quiet", "--metrics-listen", "127.0.0.1:0", "--src",
                  "127.0.0.1", "--dst", "127.0.0.2"},
                 Subdirectory(scratch.path(), "cli"));
  ASSERT_TRUE(cli.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli.Err();
  std::smatch target;
  const std::string err = cli.Err();
  ASSERT_TRUE(std::regex_search(err, target, std::regex("metrics on http://(127\\.0\\.0\\.1:[0-9]+)/metrics"))) << err;

  const int port = FreePort();
  ASSERT_GT(port, 0);
  const fs::path config = scratch.path() / "prometheus.yml";
  std::ofstream(config) << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                           "rule_files:\n  - " ORVANEL_CONTRIB_DIR "/prometheus/orvanel-alerts.yml\n"
                           "scrape_configs:\n  - job_name: orvanel\n    static_configs:\n"
                           "      - targets: ['" << target[1] << "']\n";
  CliProcess prometheus({"/usr/bin/prometheus", "--config.file=" + config.string(),
                         "--storage.tsdb.path=" + Subdirectory(scratch.path(), "data").string(),
                         "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"},
                        Subdirectory(scratch.path(), "prometheus"));
  httplib::Client api("127.0.0.1", port);
  api.set_connection_timeout(5s);
  api.set_read_timeout(10s);
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  auto ready = [&] {
    const httplib::Result result = api.Get("/-/ready");
    return result && result->status == 200;
  };
  while (!ready()) {
    ASSERT_TRUE(prometheus.Running()) << prometheus.Err();
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << prometheus.Err();
    std::this_thread::sleep_for(100ms);
  }

  // Filters: source 127.0.0.1, destination 127.0.0.2. The servers stay bound,
  // so no port-unreachable answer adds packets.
  const UdpEndpoint one = BindUdp("127.0.0.1"), two = BindUdp("127.0.0.2"), three = BindUdp("127.0.0.3"),
                    four = BindUdp("127.0.0.4");
  auto send = [](const UdpEndpoint& from, const std::string& to, const UdpEndpoint& server, int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(SendUdp(from, to, server.port, "orvanel"));
  };
  send(one, "127.0.0.2", two, 3);     // both filters match
  send(one, "127.0.0.4", four, 5);    // the source filter only
  send(three, "127.0.0.2", two, 7);   // the destination filter only
  send(three, "127.0.0.4", four, 11); // neither
  ASSERT_TRUE(SendEchoes("127.0.0.4", 2));  // requests from 127.0.0.1: source; replies: neither

  // TCP is left out: the scrapes and these queries are TCP on loopback too.
  const std::map<std::string, std::string> expectedAll = {{"udp", "26"}, {"icmp", "4"}, {"other", "0"}};
  const std::map<std::string, std::string> expectedGroups = {
      {"source/udp", "8"},       {"source/icmp", "2"},      {"source/other", "0"},
      {"destination/udp", "10"}, {"destination/icmp", "0"}, {"destination/other", "0"},
      {"neither/udp", "11"},     {"neither/icmp", "2"},     {"neither/other", "0"},
  };
  // Bytes: each datagram 35 (20 + 8 + "orvanel"), each echo 36.
  const std::map<std::string, std::string> expectedBytes = {{"udp", "910"}, {"icmp", "144"}, {"other", "0"}};
  const std::map<std::string, std::string> expectedGroupBytes = {
      {"source/udp", "280"},      {"source/icmp", "72"},     {"source/other", "0"},
      {"destination/udp", "350"}, {"destination/icmp", "0"}, {"destination/other", "0"},
      {"neither/udp", "385"},     {"neither/icmp", "72"},    {"neither/other", "0"},
  };
  std::map<std::string, std::string> all, groups, bytes, groupBytes;
  auto withoutTcp = [](std::map<std::string, std::string> series) {
    std::erase_if(series, [](const auto& entry) { return entry.first.ends_with("tcp"); });
    return series;
  };
  while (withoutTcp(all) != expectedAll || withoutTcp(groups) != expectedGroups ||
         withoutTcp(bytes) != expectedBytes || withoutTcp(groupBytes) != expectedGroupBytes) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline)
        << "orvanel_packets_total: " << testing::PrintToString(all)
        << "\norvanel_group_packets_total: " << testing::PrintToString(groups)
        << "\norvanel_bytes_total: " << testing::PrintToString(bytes)
        << "\norvanel_group_bytes_total: " << testing::PrintToString(groupBytes) << "\n" << prometheus.Err();
    std::this_thread::sleep_for(250ms);
    all = Query(api, "orvanel_packets_total", {"protocol"});
    groups = Query(api, "orvanel_group_packets_total", {"group", "protocol"});
    bytes = Query(api, "orvanel_bytes_total", {"protocol"});
    groupBytes = Query(api, "orvanel_group_bytes_total", {"group", "protocol"});
  }
  EXPECT_GT(std::stoll(all["tcp"]), 0);
  EXPECT_EQ(Query(api, "orvanel_capture_info", {"address", "interface", "source_filter", "destination_filter"}),
            (std::map<std::string, std::string>{{"127.0.0.1/lo/127.0.0.1/127.0.0.2", "1"}}));

  // The shipped alerting rules load and evaluate against the live exporter.
  const httplib::Result rules = api.Get("/api/v1/rules");
  ASSERT_TRUE(rules && rules->status == 200);
  const nlohmann::json answer = nlohmann::json::parse(rules->body);
  std::vector<std::string> healthy;
  for (const auto& group : answer.at("data").at("groups")) {
    for (const auto& rule : group.at("rules")) {
      if (rule.at("health") == "ok" || rule.at("health") == "unknown") healthy.push_back(rule.at("name"));
    }
  }
  EXPECT_EQ(healthy, (std::vector<std::string>{"OrvanelExporterDown", "OrvanelKernelDropsRising",
                                               "OrvanelReceiveErrorsRising"}));

  prometheus.Signal(SIGTERM);
  EXPECT_EQ(prometheus.Wait(30s), 0) << prometheus.Err();
  cli.Signal(SIGTERM);
  EXPECT_EQ(cli.Wait(), 0) << cli.Err();
}

}  // namespace
}  // namespace orvanel::test
