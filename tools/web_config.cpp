#include "tools/web_config.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

namespace orvanel::cli {
namespace {

namespace fs = std::filesystem;

// Thrown inside the reader only; ReadWebConfig turns it into an error text.
struct Problem {
  YAML::Mark mark;
  std::string what;
};

constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kMinVersions = {{
    {"TLS10", "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:+VERS-TLS1.1:+VERS-TLS1.0"},
    {"TLS11", "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:+VERS-TLS1.1"},
    {"TLS12", "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2"},
    {"TLS13", "NORMAL:-VERS-ALL:+VERS-TLS1.3"},
}};

std::string Scalar(const YAML::Node& node, std::string_view key) {
  if (!node.IsScalar()) throw Problem{node.Mark(), std::string(key) + " must be a string"};
  return node.Scalar();
}

// The entries of a mapping (null: none), each key one of known.
template <std::size_t N>
std::map<std::string, YAML::Node> Entries(const YAML::Node& node, std::string_view where,
                                          const std::array<std::string_view, N>& known) {
  std::map<std::string, YAML::Node> entries;
  if (node.IsNull()) return entries;
  if (!node.IsMap()) throw Problem{node.Mark(), std::string(where) + " must be a mapping"};
  for (const auto& entry : node) {
    const std::string key = entry.first.Scalar();
    if (N != 0 && std::find(known.begin(), known.end(), key) == known.end()) {
      throw Problem{entry.first.Mark(), "unknown key '" + key + "' in " + std::string(where)};
    }
    if (!entries.emplace(key, entry.second).second) {
      throw Problem{entry.first.Mark(), "key '" + key + "' given twice"};
    }
  }
  return entries;
}

std::string Contents(const fs::path& directory, const YAML::Node& node, std::string_view key) {
  const fs::path name = Scalar(node, key);
  const fs::path path = name.is_absolute() ? name : directory / name;
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  if (!(contents << file.rdbuf())) {
    throw Problem{node.Mark(), "cannot read " + std::string(key) + " '" + path.string() + "'"};
  }
  return contents.str();
}

TlsSettings ReadTls(const fs::path& directory, const YAML::Node& node) {
  constexpr std::array<std::string_view, 5> kKeys = {"cert_file", "key_file", "client_auth_type", "client_ca_file",
                                                     "min_version"};
  const auto entries = Entries(node, "tls_server_config", kKeys);
  for (const std::string_view required : {"cert_file", "key_file"}) {
    if (!entries.contains(std::string(required))) {
      throw Problem{node.Mark(), "tls_server_config needs " + std::string(required)};
    }
  }
  TlsSettings tls{Contents(directory, entries.at("cert_file"), "cert_file"),
                  Contents(directory, entries.at("key_file"), "key_file"),
                  {},
                  std::string(kMinVersions[2].second)};
  bool verify = false;
  if (const auto found = entries.find("client_auth_type"); found != entries.end()) {
    const std::string type = Scalar(found->second, "client_auth_type");
    if (type != "NoClientCert" && type != "RequireAndVerifyClientCert") {
      throw Problem{found->second.Mark(),
                    "client_auth_type '" + type + "': expected NoClientCert or RequireAndVerifyClientCert"};
    }
    verify = type == "RequireAndVerifyClientCert";
  }
  if (const auto found = entries.find("client_ca_file"); found != entries.end()) {
    if (!verify)
      throw Problem{found->second.Mark(), "client_ca_file needs client_auth_type RequireAndVerifyClientCert"};
    tls.clientCa = Contents(directory, found->second, "client_ca_file");
  } else if (verify) {
    throw Problem{node.Mark(), "client_auth_type RequireAndVerifyClientCert needs client_ca_file"};
  }
  if (const auto found = entries.find("min_version"); found != entries.end()) {
    const std::string version = Scalar(found->second, "min_version");
    const auto* known = std::find_if(kMinVersions.begin(), kMinVersions.end(),
                                     [&](const auto& entry) { return entry.first == version; });
    if (known == kMinVersions.end()) {
      throw Problem{found->second.Mark(), "min_version '" + version + "': expected TLS10, TLS11, TLS12 or TLS13"};
    }
    tls.priorities = known->second;
  }
  return tls;
}

// $2y$, $2b$ or $2a$, a two-digit cost, then 53 characters of salt and hash.
bool IsBcrypt(std::string_view hash) {
  constexpr std::size_t kLength = 60;
  return hash.size() == kLength && (hash.starts_with("$2a$") || hash.starts_with("$2b$") || hash.starts_with("$2y$")) &&
         std::isdigit(static_cast<unsigned char>(hash[4])) && std::isdigit(static_cast<unsigned char>(hash[5])) &&
         hash[6] == '$';
}

WebConfig Read(const std::string& path) {
  const YAML::Node root = YAML::LoadFile(path);
  constexpr std::array<std::string_view, 2> kKeys = {"tls_server_config", "basic_auth_users"};
  const auto entries = Entries(root, "the file", kKeys);
  WebConfig config;
  const fs::path directory = fs::path(path).parent_path();
  if (const auto found = entries.find("tls_server_config"); found != entries.end()) {
    config.tls = ReadTls(directory, found->second);
  }
  if (const auto found = entries.find("basic_auth_users"); found != entries.end()) {
    for (const auto& [user, hash] : Entries(found->second, "basic_auth_users", std::array<std::string_view, 0>{})) {
      std::string text = Scalar(hash, "a password hash");
      if (!IsBcrypt(text)) {
        throw Problem{hash.Mark(), "the password hash of '" + user + "' is not bcrypt ($2a$, $2b$ or $2y$)"};
      }
      config.users.emplace(user, std::move(text));
    }
  }
  return config;
}

}  // namespace

std::optional<WebConfig> ReadWebConfig(const std::string& path, std::string& error) {
  // yaml-cpp reports by exceptions; they end here.
  try {
    return Read(path);
  } catch (const Problem& problem) {
    error = "web config " + path + " line " + std::to_string(problem.mark.line + 1) + ": " + problem.what;
  } catch (const YAML::BadFile&) {
    error = "cannot read web config " + path;
  } catch (const YAML::Exception& exception) {
    error = "web config " + path + " line " + std::to_string(exception.mark.line + 1) + ": " + exception.msg;
  }
  return std::nullopt;
}

}  // namespace orvanel::cli
