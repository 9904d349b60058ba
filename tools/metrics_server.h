// Serves GET and HEAD of /metrics over HTTP or HTTPS on a few threads of its
// own. No client can stall the others or swell the process: idle connections
// cost a few KiB and no thread, a connection must send its request head
// within a short time, every connection has a small memory pool, and there
// are only so many at a time. Outsiders of an allow-list are closed at
// accept; TLS, client certificates and basic auth come from a web config.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "capture/unique_fd.h"
#include "tools/allow_list.h"
#include "tools/cli_options.h"
#include "tools/web_config.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace orvanel::cli {

class MetricsServer {
 public:
  // Listens on address, without answering yet; text makes the page for each
  // request, on one of the server's threads. Nothing when it cannot listen,
  // with error saying why.
  static std::unique_ptr<MetricsServer> Listen(const ListenAddress& address, std::function<std::string()> text,
                                               std::string& error);
  ~MetricsServer();  // closes every connection and stops the threads

  // Starts the threads that answer, to the addresses of allow (none: to
  // all) as web says; false with error when they cannot start.
  bool Start(std::optional<AllowList> allow, WebConfig web, std::string& error);
  // Answers new connections as web says from now on. When that cannot
  // start, false with error, and the server goes on as before.
  bool Reload(WebConfig web, std::string& error);
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The URL served, with the port that was bound.
  std::string Url() const;

 private:
  struct Callbacks;
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int socket;
    Clock::time_point deadline;  // for the request head, then for the answer
  };
  // One run of the library on the listener, with the settings it was started with.
  struct Serving {
    MetricsServer* server;
    WebConfig web;
    MHD_Daemon* daemon = nullptr;
    int quiesced = -1;  // the listener's copy, once it no longer takes connections
  };

  MetricsServer(UniqueFd listener, std::function<std::string()> text, std::string hostPort);

  std::unique_ptr<Serving> StartServing(WebConfig web);
  void StopServing(std::unique_ptr<Serving> serving);

  // Callbacks of the server's threads.
  bool Answer(const Serving& serving, MHD_Connection* connection, const char* url, const char* method);
  void Opened(MHD_Connection* connection);
  void Answered(MHD_Connection* connection);
  void Closed(MHD_Connection* connection);
  void SetDeadline(MHD_Connection* connection, Clock::duration left);
  // Cuts the connections that took too long.
  void EnforceDeadlines();

  const UniqueFd listener_;  // each run of the library gets a copy
  const std::function<std::string()> text_;
  const std::string hostPort_;
  std::optional<AllowList> allow_;  // set before the first run, then only read
  std::unique_ptr<Serving> serving_;

  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;                                            // guarded by mutex_
  std::unordered_map<MHD_Connection*, Connection> connections_;  // guarded by mutex_
  std::thread deadlines_;
};

}  // namespace orvanel::cli
