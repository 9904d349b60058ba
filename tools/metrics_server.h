// Serves GET /metrics over HTTP, on a thread of its own.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tools/cli_options.h"

namespace httplib {
class Server;
}

namespace orvanel::cli {

class MetricsServer {
 public:
  // Listens on address; text makes the page for each request, on the
  // server's thread. Nothing when it cannot listen, with error saying why.
  static std::unique_ptr<MetricsServer> Listen(const ListenAddress& address, std::function<std::string()> text,
                                               std::string& error);
  ~MetricsServer();  // stops serving and joins the thread
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The URL served, with the port that was bound.
  const std::string& Url() const { return url_; }

 private:
  MetricsServer(std::unique_ptr<httplib::Server> server, std::string url);

  std::unique_ptr<httplib::Server> server_;
  std::string url_;
  std::atomic<bool> served_{false};  // the thread has stopped listening
  std::thread thread_;
};

}  // namespace orvanel::cli
