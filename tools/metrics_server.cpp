#include "tools/metrics_server.h"

#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/unique_fd.h"
#include "tools/metrics_text.h"
#include "tools/password_check.h"

namespace orvanel::cli {
namespace {

// A scrape takes microseconds: two workers answer while others wait on a slow client.
constexpr unsigned kWorkers = 2;
// Idle connections cost a few KiB and no thread, so thousands may wait
// without taking the place of a scrape; one address may hold a sixteenth,
// enough for a scraper behind NAT among idle neighbours.
constexpr unsigned kConnections = 4096;
constexpr unsigned kConnectionsPerAddress = 256;
// Descriptors kept for the capture, files and the library's own.
constexpr rlim_t kReservedFiles = 64;
// The request line and headers must fit in a connection's pool, or the
// library answers 414 or 431 and closes it.
constexpr std::size_t kConnectionMemory = 32 * 1024;
constexpr unsigned kIdleSeconds = 2;             // to the first byte, and between any two
constexpr unsigned kKeepAliveSeconds = 1;        // for the next request after an answer
constexpr std::chrono::seconds kHeadTime{2};     // from the connection or the last answer to a whole request head
constexpr std::chrono::seconds kAnswerTime{10};  // from the head to the answer taken
constexpr std::chrono::milliseconds kDeadlineCheck{100};
constexpr int kBacklog = 1024;
constexpr char kPlainText[] = "text/plain; charset=utf-8";
constexpr char kRealm[] = "orvanel";

// The connections the open-files limit leaves room for.
unsigned ConnectionLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur <= 2 * kReservedFiles) return kReservedFiles;
  return static_cast<unsigned>(std::min<rlim_t>(kConnections, files.rlim_cur - kReservedFiles));
}

// A listening socket on host:port (port 0: any free one); -1 with error set.
int OpenListener(const std::string& host, int port, std::string& error) {
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); status != 0) {
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

bool Unauthorized(MHD_Connection* connection) {
  static constexpr std::string_view kBody = "unauthorized\n";
  MHD_Response* response =
      MHD_create_response_from_buffer(kBody.size(), const_cast<char*>(kBody.data()), MHD_RESPMEM_PERSISTENT);
  if (!response) return false;
  const bool queued = MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, kPlainText) == MHD_YES &&
                      MHD_queue_basic_auth_fail_response(connection, kRealm, response) == MHD_YES;
  MHD_destroy_response(response);
  return queued;
}

bool Authorized(MHD_Connection* connection, const std::map<std::string, std::string>& users) {
  char* password = nullptr;
  char* user = MHD_basic_auth_get_username_password(connection, &password);
  const bool authorized = user && password && CheckPassword(users, user, password);
  MHD_free(user);
  MHD_free(password);
  return authorized;
}

// The library asks for a client certificate when it has a CA; this checks
// that one came and the CA signed it.
bool ClientVerified(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
  unsigned status = 0;
  return info && gnutls_certificate_verify_peers2(static_cast<gnutls_session_t>(info->tls_session), &status) == 0 &&
         status == 0;
}

bool HasBody(MHD_Connection* connection) {
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  return (length && std::string_view(length) != "0") ||
         MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

}  // namespace

// The library's callbacks, onto the server's members.
struct MetricsServer::Callbacks {
  static MHD_Result Allowed(void* server, const sockaddr* address, socklen_t) {
    const auto& allow = static_cast<MetricsServer*>(server)->allow_;
    return !allow || allow->Allows(address) ? MHD_YES : MHD_NO;
  }
  static MHD_Result Answer(void* serving, MHD_Connection* connection, const char* url, const char* method, const char*,
                           const char*, size_t*, void**) {
    const auto& run = *static_cast<Serving*>(serving);
    return run.server->Answer(run, connection, url, method) ? MHD_YES : MHD_NO;
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
  return std::unique_ptr<MetricsServer>(
      new MetricsServer(std::move(listener), std::move(text), shownHost + ":" + std::to_string(port)));
}

MetricsServer::MetricsServer(UniqueFd listener, std::function<std::string()> text, std::string hostPort)
    : listener_(std::move(listener)), text_(std::move(text)), hostPort_(std::move(hostPort)) {}

std::string MetricsServer::Url() const {
  return (serving_ && serving_->web.tls ? "https://" : "http://") + hostPort_ + "/metrics";
}

std::unique_ptr<MetricsServer::Serving> MetricsServer::StartServing(WebConfig web) {
  // The library closes the socket it is given, also when it fails to start.
  const int socket = fcntl(listener_.get(), F_DUPFD_CLOEXEC, 0);
  if (socket < 0) return nullptr;
  auto serving = std::make_unique<Serving>(Serving{this, std::move(web)});
  const unsigned connections = ConnectionLimit();
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_LISTEN_SOCKET, socket, nullptr},
      {MHD_OPTION_THREAD_POOL_SIZE, kWorkers, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, connections, nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, std::min(kConnectionsPerAddress, connections), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Callbacks::Completed), this},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::Notified), this},
  };
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC;
  if (const std::optional<TlsSettings>& tls = serving->web.tls) {
    flags |= MHD_USE_TLS;
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(tls->cert.c_str())});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(tls->key.c_str())});
    options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(tls->priorities.c_str())});
    if (!tls->clientCa.empty()) {
      options.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(tls->clientCa.c_str())});
    }
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});
  serving->daemon = MHD_start_daemon(flags, 0, &Callbacks::Allowed, this, &Callbacks::Answer, serving.get(),
                                     MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
  return serving->daemon ? std::move(serving) : nullptr;
}

void MetricsServer::StopServing(std::unique_ptr<Serving> serving) {
  if (!serving) return;
  MHD_stop_daemon(serving->daemon);
  // The library leaves a quiesced listener to its caller.
  if (serving->quiesced >= 0) close(serving->quiesced);
}

bool MetricsServer::Start(std::optional<AllowList> allow, WebConfig web, std::string& error) {
  allow_ = std::move(allow);
  serving_ = StartServing(std::move(web));
  if (!serving_) {
    error = "cannot serve " + Url() + ": the HTTP server did not start";
    return false;
  }
  deadlines_ = std::thread([this] { EnforceDeadlines(); });
  return true;
}

bool MetricsServer::Reload(WebConfig web, std::string& error) {
  // The old run stops taking connections first; new ones wait in the
  // listener's backlog until the new run takes them.
  if (serving_) serving_->quiesced = MHD_quiesce_daemon(serving_->daemon);
  std::unique_ptr<Serving> next = StartServing(std::move(web));
  const bool reloaded = next != nullptr;
  if (!next && serving_) next = StartServing(serving_->web);
  StopServing(std::exchange(serving_, std::move(next)));
  if (!reloaded) {
    error = "the HTTP server did not start with the new web config (do its certificate and key match?)";
  }
  return reloaded;
}

MetricsServer::~MetricsServer() {
  if (deadlines_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    stopping_.notify_one();
    deadlines_.join();
  }
  StopServing(std::move(serving_));
}

bool MetricsServer::Answer(const Serving& serving, MHD_Connection* connection, const char* url, const char* method) {
  SetDeadline(connection, kAnswerTime);
  if (serving.web.tls && !serving.web.tls->clientCa.empty() && !ClientVerified(connection)) return false;
  if (!serving.web.users.empty() && !Authorized(connection, serving.web.users)) return Unauthorized(connection);
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
  connections_[connection] = {info ? info->connect_fd : -1, Clock::now() + kHeadTime};
}

void MetricsServer::Answered(MHD_Connection* connection) {
  MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, kKeepAliveSeconds);
  SetDeadline(connection, kHeadTime);
}

void MetricsServer::SetDeadline(MHD_Connection* connection, Clock::duration left) {
  const std::lock_guard lock(mutex_);
  if (const auto found = connections_.find(connection); found != connections_.end()) {
    found->second.deadline = Clock::now() + left;
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
