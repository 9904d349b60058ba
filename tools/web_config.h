// The web configuration file of Prometheus exporters (--web-config): TLS,
// client certificates and basic auth users, as the exporter-toolkit reads it.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace orvanel::cli {

struct TlsSettings {
  std::string cert;        // PEM contents of cert_file
  std::string key;         // of key_file
  std::string clientCa;    // of client_ca_file; empty: no client certificate asked for
  std::string priorities;  // GnuTLS priority string for min_version
};

struct WebConfig {
  std::optional<TlsSettings> tls;            // none: plain HTTP
  std::map<std::string, std::string> users;  // user to bcrypt hash; empty: no auth
};

// Reads path and the files it names (relative to its directory); none with
// error saying the file, the line and why.
std::optional<WebConfig> ReadWebConfig(const std::string& path, std::string& error);

}  // namespace orvanel::cli
