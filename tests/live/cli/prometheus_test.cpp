// A real Prometheus server scraping orvanel-cli every second while known
// traffic flows, all on loopback in this test process's own network namespace.
#include <arpa/inet.h>
#include <crypt.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "tests/support/cli_process.h"
#include "tests/support/idle_clients.h"
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

// A Prometheus server scraping one job every second, ready to be queried.
struct Prometheus {
  Prometheus(const fs::path& directory, const std::vector<std::string>& argv, int port)
      : process(argv, Subdirectory(directory, "prometheus")), api("127.0.0.1", port) {}

  // rules: top-level YAML; job: the keys of the job "orvanel" after its name.
  static std::unique_ptr<Prometheus> Start(const fs::path& directory, const std::string& rules,
                                           const std::string& job) {
    const int port = FreePort();
    if (port <= 0) return nullptr;
    const fs::path config = directory / "prometheus.yml";
    std::ofstream(config) << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                          << rules << "scrape_configs:\n  - job_name: orvanel\n    " << job;
    auto prometheus = std::make_unique<Prometheus>(
        directory,
        std::vector<std::string>{"/usr/bin/prometheus", "--config.file=" + config.string(),
                                 "--storage.tsdb.path=" + Subdirectory(directory, "data").string(),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"},
        port);
    prometheus->api.set_connection_timeout(5s);
    prometheus->api.set_read_timeout(10s);
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    for (;;) {
      const httplib::Result result = prometheus->api.Get("/-/ready");
      if (result && result->status == 200) return prometheus;
      if (!prometheus->process.Running() || std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "Prometheus not ready: " << prometheus->process.Err();
        return nullptr;
      }
      std::this_thread::sleep_for(100ms);
    }
  }

  CliProcess process;
  httplib::Client api;
};

TEST(Prometheus, ScrapesTheExactCountsOfAKnownFlow) {
  const ScratchDirectory scratch("orvanel-prometheus");
  CliProcess cli({ORVANEL_CLI_PATH, "--address", "127.0.0.1", "--quiet", "--metrics-listen", "127.0.0.1:0", "--src",
                  "127.0.0.1", "--dst", "127.0.0.2"},
                 Subdirectory(scratch.path(), "cli"));
  ASSERT_TRUE(cli.WaitForError("orvanel-cli: capturing on 127.0.0.1\n")) << cli.Err();
  std::smatch target;
  const std::string err = cli.Err();
  ASSERT_TRUE(std::regex_search(err, target, std::regex("metrics on http://(127\\.0\\.0\\.1:[0-9]+)/metrics"))) << err;

  std::unique_ptr<Prometheus> prometheus =
      Prometheus::Start(scratch.path(), "rule_files:\n  - " ORVANEL_CONTRIB_DIR "/prometheus/orvanel-alerts.yml\n",
                        "static_configs:\n      - targets: ['" + target[1].str() + "']\n");
  ASSERT_TRUE(prometheus);
  httplib::Client& api = prometheus->api;
  const auto deadline = std::chrono::steady_clock::now() + 90s;

  // Filters: source 127.0.0.1, destination 127.0.0.2. The servers stay bound,
  // so no port-unreachable answer adds packets.
  const UdpEndpoint one = BindUdp("127.0.0.1"), two = BindUdp("127.0.0.2"), three = BindUdp("127.0.0.3"),
                    four = BindUdp("127.0.0.4");
  auto send = [](const UdpEndpoint& from, const std::string& to, const UdpEndpoint& server, int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(SendUdp(from, to, server.port, "orvanel"));
  };
  send(one, "127.0.0.2", two, 3);           // both filters match
  send(one, "127.0.0.4", four, 5);          // the source filter only
  send(three, "127.0.0.2", two, 7);         // the destination filter only
  send(three, "127.0.0.4", four, 11);       // neither
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
  while (withoutTcp(all) != expectedAll || withoutTcp(groups) != expectedGroups || withoutTcp(bytes) != expectedBytes ||
         withoutTcp(groupBytes) != expectedGroupBytes) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline)
        << "orvanel_packets_total: " << testing::PrintToString(all)
        << "\norvanel_group_packets_total: " << testing::PrintToString(groups)
        << "\norvanel_bytes_total: " << testing::PrintToString(bytes)
        << "\norvanel_group_bytes_total: " << testing::PrintToString(groupBytes) << "\n"
        << prometheus->process.Err();
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

  EXPECT_TRUE(prometheus->process.Signal(SIGTERM));
  EXPECT_EQ(prometheus->process.Wait(30s), 0) << prometheus->process.Err();
  EXPECT_TRUE(cli.Signal(SIGTERM));
  EXPECT_EQ(cli.Wait(), 0) << cli.Err();
}

// Standard output of a shell command.
std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// The status curl got for url with these options ("000": no answer).
std::string Status(const std::string& url, const std::string& options) {
  return Output("curl -s -o /dev/null -w '%{http_code}' --max-time 5 " + options + " '" + url + "'");
}

// A CA, a server certificate for 127.0.0.1 and a client certificate of that CA.
bool MakeCertificates(const fs::path& directory) {
  const std::string make = " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 ";
  return std::system(("(cd '" + directory.string() + "'" + make + "-keyout ca.key -out ca.crt -subj /CN=ca" + make +
                      "-keyout server.key -out server.crt -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
                      "-CA ca.crt -CAkey ca.key" +
                      make +
                      "-keyout client.key -out client.crt -subj /CN=client -CA ca.crt -CAkey ca.key) >/dev/null 2>&1")
                         .c_str()) == 0;
}

std::string Bcrypt(const std::string& password) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  crypt_data data{};
  if (!crypt_gensalt_rn("$2y$", 4, nullptr, 0, salt, sizeof salt)) return {};
  return crypt_r(password.c_str(), salt, &data);
}

// orvanel-cli serving its metrics on loopback with these options, and its URL.
struct Exporter {
  Exporter(const fs::path& directory, const std::vector<std::string>& options) {
    std::vector<std::string> argv = {ORVANEL_CLI_PATH, "--address",        "127.0.0.1",
                                     "--quiet",        "--metrics-listen", "127.0.0.1:0"};
    argv.insert(argv.end(), options.begin(), options.end());
    process = std::make_unique<CliProcess>(argv, Subdirectory(directory, "cli"));
    std::smatch found;
    const std::string err = process->WaitForError("capturing on") ? process->Err() : "";
    if (std::regex_search(err, found, std::regex("metrics on (https?://127\\.0\\.0\\.1:([0-9]+)/metrics)"))) {
      url = found[1];
      hostPort = "127.0.0.1:" + found[2].str();
      port = static_cast<std::uint16_t>(std::stoi(found[2]));
    }
  }
  std::unique_ptr<CliProcess> process;
  std::string url, hostPort;
  std::uint16_t port = 0;
};

class WebConfigTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(MakeCertificates(scratch.path())); }
  [[nodiscard]] std::string Path(const std::string& name) const { return (scratch.path() / name).string(); }
  // A web config asking for TLS with a client certificate and one user.
  void WriteConfig(const std::string& user, const std::string& password, const std::string& keyFile = "server.key") {
    std::ofstream(Path("web.yml")) << "tls_server_config:\n  cert_file: server.crt\n  key_file: " << keyFile
                                   << "\n  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
                                      "basic_auth_users:\n  "
                                   << user << ": " << Bcrypt(password) << "\n";
  }
  [[nodiscard]] std::string Client() const {
    return "--cacert " + Path("ca.crt") + " --cert " + Path("client.crt") + " --key " + Path("client.key");
  }

  const ScratchDirectory scratch{"orvanel-web-config"};
};

TEST_F(WebConfigTest, PrometheusScrapesOverTlsWithAClientCertificateAndBasicAuth) {
  WriteConfig("alice", "secret");
  Exporter exporter(scratch.path(), {"--web-config", Path("web.yml")});
  ASSERT_TRUE(exporter.url.starts_with("https://")) << exporter.process->Err();
  std::unique_ptr<Prometheus> prometheus =
      Prometheus::Start(scratch.path(), "",
                        "scheme: https\n    tls_config:\n      ca_file: " + Path("ca.crt") +
                            "\n      cert_file: " + Path("client.crt") + "\n      key_file: " + Path("client.key") +
                            "\n    basic_auth:\n      username: alice\n      password: secret\n"
                            "    static_configs:\n      - targets: ['" +
                            exporter.hostPort + "']\n");
  ASSERT_TRUE(prometheus);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (Query(prometheus->api, "orvanel_build_info", {"job"}) !=
         std::map<std::string, std::string>{{"orvanel", "1"}}) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << prometheus->process.Err() << exporter.process->Err();
    std::this_thread::sleep_for(250ms);
  }
  EXPECT_EQ(Query(prometheus->api, "up", {"job"}), (std::map<std::string, std::string>{{"orvanel", "1"}}));
  EXPECT_TRUE(prometheus->process.Signal(SIGTERM));
  EXPECT_EQ(prometheus->process.Wait(30s), 0) << prometheus->process.Err();
  EXPECT_TRUE(exporter.process->Signal(SIGTERM));
  EXPECT_EQ(exporter.process->Wait(), 0) << exporter.process->Err();
}

TEST_F(WebConfigTest, OnlyTheRightUserWithACertificateIsAnsweredAndSighupRereadsTheFile) {
  WriteConfig("alice", "secret");
  Exporter exporter(scratch.path(), {"--web-config", Path("web.yml")});
  ASSERT_FALSE(exporter.url.empty()) << exporter.process->Err();
  EXPECT_EQ(Status(exporter.url, Client() + " -u alice:secret"), "200");
  // carol is unknown, checked against another user's hash: alice's password must not pass.
  for (const char* wrong : {"-u alice:wrong", "-u bob:secret", "-u carol:secret", "-u alice:", ""}) {
    EXPECT_EQ(Status(exporter.url, Client() + " " + wrong), "401") << wrong;
  }
  const std::string refused = Output("curl -s -i --max-time 5 " + Client() + " -u bob:secret " + exporter.url);
  EXPECT_NE(refused.find("WWW-Authenticate: Basic realm="), std::string::npos) << refused;
  // Without a certificate, or over plain HTTP, nothing is answered.
  EXPECT_EQ(Status(exporter.url, "--cacert " + Path("ca.crt") + " -u alice:secret"), "000");
  EXPECT_EQ(Status("http://" + exporter.hostPort + "/metrics", "-u alice:secret"), "000");

  // A new user takes effect on SIGHUP.
  WriteConfig("bob", "other");
  EXPECT_TRUE(exporter.process->Signal(SIGHUP));
  ASSERT_TRUE(exporter.process->WaitForError("reloaded\n")) << exporter.process->Err();
  EXPECT_EQ(Status(exporter.url, Client() + " -u bob:other"), "200");
  EXPECT_EQ(Status(exporter.url, Client() + " -u alice:secret"), "401");
  // Bad files keep bob: an unknown key, and a key that is not the certificate's.
  std::ofstream(Path("web.yml"), std::ios::app) << "tls_client_config: {}\n";
  EXPECT_TRUE(exporter.process->Signal(SIGHUP));
  ASSERT_TRUE(exporter.process->WaitForError("line 8: unknown key 'tls_client_config'")) << exporter.process->Err();
  WriteConfig("carol", "third", "client.key");
  EXPECT_TRUE(exporter.process->Signal(SIGHUP));
  ASSERT_TRUE(exporter.process->WaitForError("did not start with the new web config")) << exporter.process->Err();
  EXPECT_EQ(Status(exporter.url, Client() + " -u bob:other"), "200");
  EXPECT_EQ(Status(exporter.url, Client() + " -u carol:third"), "401");
  EXPECT_TRUE(exporter.process->Signal(SIGTERM));
  EXPECT_EQ(exporter.process->Wait(), 0) << exporter.process->Err();
}

TEST(Exporter, OutsidersOfTheAllowListAreClosedAtAccept) {
  const ScratchDirectory scratch("orvanel-allow");
  Exporter exporter(scratch.path(), {"--metrics-allow", "10.0.0.0/8,127.0.0.1/32,::1"});
  ASSERT_FALSE(exporter.url.empty()) << exporter.process->Err();
  EXPECT_EQ(Status(exporter.url, "--interface 127.0.0.1"), "200");
  EXPECT_EQ(Status(exporter.url, "--interface 127.0.0.2"), "000");
  // An insider that sends nothing is cut after its head time; an outsider
  // connecting after it is closed first, having sent nothing either.
  const UniqueFd insider = ConnectFrom("127.0.0.1", exporter.port), outsider = ConnectFrom("127.0.0.2", exporter.port);
  ASSERT_TRUE(insider.valid() && outsider.valid());
  pollfd both[] = {{insider.get(), POLLIN, 0}, {outsider.get(), POLLIN, 0}};
  ASSERT_EQ(poll(both, 2, 10'000), 1);
  EXPECT_EQ(both[0].revents, 0);
  EXPECT_NE(both[1].revents, 0);
  EXPECT_TRUE(exporter.process->Signal(SIGTERM));
  EXPECT_EQ(exporter.process->Wait(), 0) << exporter.process->Err();
}

TEST(Exporter, ScrapesAreAnsweredWhileIdleClientsHoldEveryAddressesLimit) {
  // Room for the idle clients' descriptors, here and in the exporter.
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  const ScratchDirectory scratch("orvanel-idle");
  Exporter exporter(scratch.path(), {});
  ASSERT_FALSE(exporter.url.empty()) << exporter.process->Err();
  {
    // Each other address at its limit, slow clients, and idle neighbours at
    // the scraper's own address.
    const IdleClients others({"127.0.0.2", "127.0.0.3", "127.0.0.4"}, 300, exporter.port);
    const IdleClients slow({"127.0.0.5", "127.0.0.6"}, 100, exporter.port, true);
    const IdleClients neighbours({"127.0.0.1"}, 64, exporter.port);
    // Past the head time, so that some were cut and came back meanwhile.
    for (int scrape = 0; scrape < 6; ++scrape) {
      std::this_thread::sleep_for(500ms);
      EXPECT_EQ(Status(exporter.url, "--interface 127.0.0.1"), "200") << scrape;
    }
  }
  EXPECT_TRUE(exporter.process->Signal(SIGTERM));
  EXPECT_EQ(exporter.process->Wait(), 0) << exporter.process->Err();
}

}  // namespace
}  // namespace orvanel::test
