#include "tools/metrics_server.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "capture/unique_fd.h"
#include "tools/metrics_text.h"

namespace orvanel::cli {
namespace {

// A scrape takes microseconds: two workers answer while others wait on a slow client.
constexpr unsigned kWorkers = 2;
constexpr unsigned kConnections = 64;
constexpr unsigned kConnectionsPerAddress = 16;  // one address cannot take them all
// The request line and headers must fit in a connection's pool, or the
// library answers 414 or 431 and closes it.
constexpr std::size_t kConnectionMemory = 32 * 1024;
constexpr unsigned kIdleSeconds = 2;       // to the first byte, and between any two
constexpr unsigned kKeepAliveSeconds = 1;  // for the next request after an answer
constexpr std::chrono::seconds kWholeRequest{3};
constexpr std::chrono::milliseconds kDeadlineCheck{100};
constexpr int kBacklog = 64;
constexpr char kPlainText[] = "text/plain; charset=utf-8";

// A listening socket on host:port (port 0: any free one); -1 with error set.
int OpenListener(const std::string& host, int port, std::string& error) {
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
      status != 0) {
    error = gai_strerror(status);
    return -1;
  }
  int listener = -1;
  for (const addrinfo* candidate = found; candidate && listener < 0; candidate = candidate->ai_next) {
    UniqueFd socket(::socket(candidate->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int on = 1, off = 0;
    // SO_REUSEADDR lets a restart rebind at once; never SO_REUSEPORT, which
    // would let a second exporter share the port unnoticed. [::] takes IPv4 too.
    if (socket.valid() && setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        (candidate->ai_family != AF_INET6 ||
         setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0) &&
        bind(socket.get(), candidate->ai_addr, candidate->ai_addrlen) == 0 && listen(socket.get(), kBacklog) == 0) {
      listener = socket.release();
    } else {
      error = std::strerror(errno);
    }
  }
  freeaddrinfo(found);
  return listener;
}

int BoundPort(int listener) {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return -1;
  return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                           : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
}

bool Respond(MHD_Connection* connection, unsigned status, const std::string& body, const char* contentType) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return false;
  bool queued = MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType) == MHD_YES;
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
    queued = queued && MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD") == MHD_YES;
  }
  queued = queued && MHD_queue_response(connection, status, response) == MHD_YES;
  MHD_destroy_response(response);
  return queued;
}

bool HasBody(MHD_Connection* connection) {
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  return (length && std::string_view(length) != "0") ||
         MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

}  // namespace

// The library's callbacks, onto the server's members.
struct MetricsServer::Callbacks {
  static MHD_Result Answer(void* server, MHD_Connection* connection, const char* url, const char* method,
                           const char*, const char*, size_t*, void**) {
    return static_cast<MetricsServer*>(server)->Answer(connection, url, method) ? MHD_YES : MHD_NO;
  }
  static void Completed(void* server, MHD_Connection* connection, void**, MHD_RequestTerminationCode reason) {
    if (reason == MHD_REQUEST_TERMINATED_COMPLETED_OK) static_cast<MetricsServer*>(server)->Answered(connection);
  }
  static void Notified(void* server, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<MetricsServer*>(server);
    code == MHD_CONNECTION_NOTIFY_STARTED ? self->Opened(connection) : self->Closed(connection);
  }
};

std::unique_ptr<MetricsServer> MetricsServer::Listen(const ListenAddress& address, std::function<std::string()> text,
                                                     std::string& error) {
  const std::string host = address.host.empty() ? "0.0.0.0" : address.host;
  const std::string shownHost = host.find(':') == std::string::npos ? host : "[" + host + "]";
  UniqueFd listener(OpenListener(host, address.port, error));
  const int port = listener.valid() ? BoundPort(listener.get()) : -1;
  if (port <= 0) {
    if (listener.valid()) error = std::strerror(errno);
    error = "cannot listen on " + shownHost + ":" + std::to_string(address.port) + ": " + error;
    return nullptr;
  }
  return std::unique_ptr<MetricsServer>(new MetricsServer(
      std::move(listener), std::move(text), "http://" + shownHost + ":" + std::to_string(port) + "/metrics"));
}

MetricsServer::MetricsServer(UniqueFd listener, std::function<std::string()> text, std::string url)
    : listener_(std::move(listener)), text_(std::move(text)), url_(std::move(url)) {}

bool MetricsServer::Start(std::string& error) {
  // The library owns the listener from here on, even when it fails to start.
  daemon_ = MHD_start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC, 0, nullptr, nullptr, &Callbacks::Answer, this,
      MHD_OPTION_LISTEN_SOCKET, listener_.release(), MHD_OPTION_THREAD_POOL_SIZE, kWorkers, MHD_OPTION_CONNECTION_LIMIT,
      kConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_NOTIFY_COMPLETED,
      &Callbacks::Completed, this, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::Notified, this, MHD_OPTION_END);
  if (!daemon_) {
    error = "cannot serve " + url_ + ": the HTTP server did not start";
    return false;
  }
  deadlines_ = std::thread([this] { EnforceDeadlines(); });
  return true;
}

MetricsServer::~MetricsServer() {
  if (!daemon_) return;
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopping_.notify_one();
  deadlines_.join();
  MHD_stop_daemon(daemon_);
}

bool MetricsServer::Answer(MHD_Connection* connection, const char* url, const char* method) {
  // Answered at once, before any body is read: a body is never read at all.
  const std::string_view verb = method;
  if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
    return Respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", kPlainText);
  }
  if (HasBody(connection)) return Respond(connection, MHD_HTTP_CONTENT_TOO_LARGE, "no body\n", kPlainText);
  if (std::string_view(url) != "/metrics") return Respond(connection, MHD_HTTP_NOT_FOUND, "not found\n", kPlainText);
  return Respond(connection, MHD_HTTP_OK, text_(), std::string(kMetricsContentType).c_str());
}

void MetricsServer::Opened(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  const std::lock_guard lock(mutex_);
  connections_[connection] = {info ? info->connect_fd : -1, Clock::now() + kWholeRequest};
}

void MetricsServer::Answered(MHD_Connection* connection) {
  MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, kKeepAliveSeconds);
  const std::lock_guard lock(mutex_);
  if (const auto found = connections_.find(connection); found != connections_.end()) {
    found->second.deadline = Clock::now() + kWholeRequest;
  }
}

void MetricsServer::Closed(MHD_Connection* connection) {
  // The library closes the socket only after this, so a socket still in the
  // map is never one that was reused.
  const std::lock_guard lock(mutex_);
  connections_.erase(connection);
}

void MetricsServer::EnforceDeadlines() {
  std::unique_lock lock(mutex_);
  while (!stopping_.wait_for(lock, kDeadlineCheck, [this] { return stop_; })) {
    const Clock::time_point now = Clock::now();
    for (auto& [connection, state] : connections_) {
      // The library sees the end of the stream and closes the connection.
      if (state.socket >= 0 && now >= state.deadline) {
        shutdown(state.socket, SHUT_RDWR);
        state.socket = -1;
      }
    }
  }
}

}  // namespace orvanel::cli
