#include "tools/metrics_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "tools/metrics_text.h"

namespace orvanel::cli {
namespace {

// Requests are answered one at a time on the listening thread itself: a
// scrape takes microseconds, and waiting connections stay in the kernel's
// short listen queue instead of a queue of ours that could grow.
class OneAtATime final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> handleConnection) override { handleConnection(); }
  void shutdown() override {}
};

constexpr auto kReadTimeout = std::chrono::seconds(2);  // a silent client holds the thread no longer

}  // namespace

std::unique_ptr<MetricsServer> MetricsServer::Listen(const ListenAddress& address, std::function<std::string()> text,
                                                     std::string& error) {
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] { return new OneAtATime; };
  server->set_keep_alive_max_count(1);  // one request per connection, so no client keeps the thread
  server->set_read_timeout(kReadTimeout);
  // The library would also set SO_REUSEPORT, which lets a second exporter
  // share the port unnoticed; SO_REUSEADDR alone lets a restart rebind.
  server->set_socket_options([](int socket) {
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  server->Get("/metrics", [text = std::move(text)](const httplib::Request&, httplib::Response& response) {
    response.set_content(text(), std::string(kMetricsContentType).c_str());
  });
  const std::string host = address.host.empty() ? "0.0.0.0" : address.host;
  const std::string shownHost = host.find(':') == std::string::npos ? host : "[" + host + "]";
  errno = 0;
  int port = address.port;
  if (port == 0) {
    port = server->bind_to_any_port(host);
  } else if (!server->bind_to_port(host, port)) {
    port = -1;
  }
  if (port <= 0) {
    error = "cannot listen on " + shownHost + ":" + std::to_string(address.port) +
            (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    return nullptr;
  }
  return std::unique_ptr<MetricsServer>(
      new MetricsServer(std::move(server), "http://" + shownHost + ":" + std::to_string(port) + "/metrics"));
}

MetricsServer::MetricsServer(std::unique_ptr<httplib::Server> server, std::string url)
    : server_(std::move(server)), url_(std::move(url)), thread_([this] {
        server_->listen_after_bind();
        served_.store(true, std::memory_order_release);
      }) {}

MetricsServer::~MetricsServer() {
  // stop() does nothing before the thread has begun to listen, so it is
  // repeated until the thread is done.
  while (!served_.load(std::memory_order_acquire)) {
    server_->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  thread_.join();
}

}  // namespace orvanel::cli
