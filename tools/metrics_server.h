// Serves GET and HEAD of /metrics over HTTP to anyone who can reach the port,
// on a few threads of its own. No client can stall the others or swell the
// process: every connection has a small memory pool, idle and whole-request
// time limits, and there are only so many connections at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "capture/unique_fd.h"
#include "tools/cli_options.h"

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

  // Starts the threads that answer; false with error when they cannot start.
  bool Start(std::string& error);
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The URL served, with the port that was bound.
  const std::string& Url() const { return url_; }

 private:
  struct Callbacks;
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int socket;
    Clock::time_point deadline;  // for the whole of the next request
  };

  MetricsServer(UniqueFd listener, std::function<std::string()> text, std::string url);

  // Callbacks of the server's threads.
  bool Answer(MHD_Connection* connection, const char* url, const char* method);
  void Opened(MHD_Connection* connection);
  void Answered(MHD_Connection* connection);
  void Closed(MHD_Connection* connection);
  // Cuts the connections whose request has taken too long.
  void EnforceDeadlines();

  UniqueFd listener_;  // until Start hands it to the library
  const std::function<std::string()> text_;
  const std::string url_;
  MHD_Daemon* daemon_ = nullptr;

  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;                                           // guarded by mutex_
  std::unordered_map<MHD_Connection*, Connection> connections_;  // guarded by mutex_
  std::thread deadlines_;
};

}  // namespace orvanel::cli
