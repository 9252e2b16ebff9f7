// Sockets, TLS and threads of the simulator. One request per connection; each
// connection is served on its own thread so a delayed answer never blocks the
// control API or other clients.

#include <CloudSim/Server.h>

#include "Dispatch.h"
#include "Http.h"
#include "Json.h"
#include "State.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <list>
#include <thread>

namespace CloudSim {
namespace {

// A stalled client must not hold a thread for ever.
constexpr int kSocketTimeoutSeconds = 10;

std::string sslErrors() {
  std::string out;
  unsigned long e;
  while ((e = ERR_get_error()) != 0) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!out.empty()) out += "; ";
    out += buf;
  }
  return out.empty() ? "unknown TLS error" : out;
}

bool writeAll(SSL* ssl, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    int chunk = static_cast<int>(std::min<std::size_t>(data.size() - done, 1 << 20));
    int n = SSL_write(ssl, data.data() + done, chunk);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The client sends one request and then only waits; a readable or hung-up socket means
// it has closed its side.
bool peerClosed(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

enum class ReadResult { Ok, Closed, Bad, TooLarge, Unsupported };

ReadResult readRequest(SSL* ssl, Http::Request& request) {
  std::string buffer;
  std::size_t headEnd = std::string::npos;
  char chunk[8192];
  while (headEnd == std::string::npos) {
    int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return ReadResult::Closed;
    std::size_t searchFrom = buffer.size() >= 3 ? buffer.size() - 3 : 0;
    buffer.append(chunk, static_cast<std::size_t>(n));
    headEnd = buffer.find("\r\n\r\n", searchFrom);
    if (headEnd == std::string::npos && buffer.size() > Http::kMaxHeadBytes + 4) return ReadResult::Bad;
  }
  switch (Http::parseHead(buffer.substr(0, headEnd), request)) {
    case Http::HeadStatus::Ok: break;
    case Http::HeadStatus::Bad: return ReadResult::Bad;
    case Http::HeadStatus::TooLarge: return ReadResult::TooLarge;
    case Http::HeadStatus::Unsupported: return ReadResult::Unsupported;
  }
  request.body = buffer.substr(headEnd + 4);
  // A client that asks to be invited (libcurl does for larger bodies) would otherwise wait
  // a second before sending the body.
  if (request.body.size() < request.contentLength && Http::expectsContinue(request) &&
      !writeAll(ssl, "HTTP/1.1 100 Continue\r\n\r\n")) {
    return ReadResult::Closed;
  }
  while (request.body.size() < request.contentLength) {
    int want = static_cast<int>(std::min<std::size_t>(sizeof chunk, request.contentLength - request.body.size()));
    int n = SSL_read(ssl, chunk, want);
    if (n <= 0) return ReadResult::Closed;
    request.body.append(chunk, static_cast<std::size_t>(n));
  }
  // Anything after the declared length is not part of this request; one request per connection.
  request.body.resize(request.contentLength);
  return ReadResult::Ok;
}

}  // namespace

struct Server::Impl {
  State state;
  SSL_CTX* ctx = nullptr;
  int listenFd = -1;
  int wakePipe[2] = {-1, -1};
  std::uint16_t port = 0;
  bool log = false;
  bool running = false;
  std::thread acceptThread;

  struct Connection {
    std::thread thread;
    int fd;
    std::atomic<bool> done{false};
  };
  std::mutex connMutex;
  std::list<Connection> connections;

  void acceptLoop();
  void serve(Connection& conn);
  void reapFinished();
  void closeConnectionFd(Connection& conn);
  void releaseResources();
};

void Server::Impl::closeConnectionFd(Connection& conn) {
  std::lock_guard<std::mutex> lock(connMutex);
  if (conn.fd >= 0) {
    ::close(conn.fd);
    conn.fd = -1;
  }
}

void Server::Impl::serve(Connection& conn) {
  timeval tv{};
  tv.tv_sec = kSocketTimeoutSeconds;
  setsockopt(conn.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(conn.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

  SSL* ssl = SSL_new(ctx);
  bool clean = false;
  if (ssl != nullptr && SSL_set_fd(ssl, conn.fd) == 1 && SSL_accept(ssl) == 1) {
    Http::Request request;
    Response response;
    bool answer = true;
    switch (readRequest(ssl, request)) {
      case ReadResult::Ok: {
        const std::string path = Http::pathOf(request.target);
        const int fd = conn.fd;
        response = isControlPath(path) ? handleControl(state, request, path)
                                       : handleCloud(state, request, path, [fd] { return peerClosed(fd); });
        answer = !response.drop;
        if (log) {
          // One write per line, so lines of parallel connections do not interleave.
          const std::string line = "cloudsim: " + request.method + " " + path + " -> " +
                                   (response.drop ? std::string("dropped") : std::to_string(response.status)) + "\n";
          std::cerr << line << std::flush;
        }
        break;
      }
      case ReadResult::Closed: answer = false; break;
      case ReadResult::Bad: response = {false, 400, Json::errorList(400, "Malformed request")}; break;
      case ReadResult::TooLarge: response = {false, 413, Json::errorList(413, "Request too large")}; break;
      case ReadResult::Unsupported: response = {false, 501, Json::errorList(501, "Not supported")}; break;
    }
    if (answer && writeAll(ssl, Http::buildResponse(response.status, response.body))) {
      clean = true;
    }
  }
  if (ssl != nullptr) {
    if (clean) SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  ERR_clear_error();
  closeConnectionFd(conn);
  conn.done = true;
}

void Server::Impl::reapFinished() {
  std::list<Connection> finished;
  {
    std::lock_guard<std::mutex> lock(connMutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if (it->done) finished.splice(finished.end(), connections, it);
      it = next;
    }
  }
  for (Connection& conn : finished) conn.thread.join();
}

void Server::Impl::acceptLoop() {
  while (true) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    int n = ::poll(fds, 2, 1000);
    if (n < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    reapFinished();
    if (n <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(connMutex);
    connections.emplace_back();
    Connection& conn = connections.back();
    conn.fd = fd;
    conn.thread = std::thread([this, &conn] { serve(conn); });
  }
}

void Server::Impl::releaseResources() {
  if (listenFd >= 0) ::close(listenFd);
  listenFd = -1;
  for (int& fd : wakePipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (ctx != nullptr) SSL_CTX_free(ctx);
  ctx = nullptr;
}

Server::Server() : impl_(new Impl) {}

Server::~Server() { stop(); }

bool Server::start(const ServerOptions& options, std::string& error) {
  if (impl_->running) {
    error = "already running";
    return false;
  }
  // A client that hangs up mid-answer must not end the process.
  ::signal(SIGPIPE, SIG_IGN);
  if (!impl_->state.load(options.fixture, error)) return false;

  Impl& d = *impl_;
  d.ctx = SSL_CTX_new(TLS_server_method());
  if (d.ctx == nullptr || SSL_CTX_set_min_proto_version(d.ctx, TLS1_2_VERSION) != 1) {
    error = "TLS set-up failed: " + sslErrors();
    d.releaseResources();
    return false;
  }
  SSL_CTX_set_options(d.ctx, SSL_OP_NO_RENEGOTIATION);
  if (SSL_CTX_use_certificate_chain_file(d.ctx, options.certFile.c_str()) != 1) {
    error = "cannot load certificate " + options.certFile + ": " + sslErrors();
    d.releaseResources();
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(d.ctx, options.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(d.ctx) != 1) {
    error = "cannot load key " + options.keyFile + ": " + sslErrors();
    d.releaseResources();
    return false;
  }

  d.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options.port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (d.listenFd < 0 || setsockopt(d.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      ::bind(d.listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(d.listenFd, 64) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + std::strerror(errno);
    d.releaseResources();
    return false;
  }
  socklen_t len = sizeof addr;
  if (::getsockname(d.listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::pipe2(d.wakePipe, O_CLOEXEC) != 0) {
    error = std::string("socket set-up failed: ") + std::strerror(errno);
    d.releaseResources();
    return false;
  }
  d.port = ntohs(addr.sin_port);
  d.log = options.logToStderr;
  d.state.setStopping(false);
  d.running = true;
  d.acceptThread = std::thread([&d] { d.acceptLoop(); });
  return true;
}

void Server::stop() {
  Impl& d = *impl_;
  if (!d.running) return;
  d.running = false;
  d.state.setStopping(true);
  char wake = 1;
  ssize_t ignored = ::write(d.wakePipe[1], &wake, 1);
  (void)ignored;
  d.acceptThread.join();
  {
    // Wakes connection threads blocked in a read; their fds are closed only under this lock.
    std::lock_guard<std::mutex> lock(d.connMutex);
    for (Impl::Connection& conn : d.connections) {
      if (conn.fd >= 0) ::shutdown(conn.fd, SHUT_RDWR);
    }
  }
  for (Impl::Connection& conn : d.connections) conn.thread.join();
  d.connections.clear();
  d.releaseResources();
  d.port = 0;
}

std::uint16_t Server::port() const { return impl_->port; }

std::vector<RecordedRequest> Server::requests() const { return impl_->state.requests(); }

void Server::reset() { impl_->state.reset(); }

bool Server::addReply(const ProgrammedReply& reply, std::string& error) {
  const std::vector<std::string>& names = routeNames();
  if (std::find(names.begin(), names.end(), reply.route) == names.end()) {
    error = "unknown route \"" + reply.route + "\"";
    return false;
  }
  if (reply.status < 100 || reply.status > 599) {
    error = "status out of range";
    return false;
  }
  impl_->state.addReply(reply);
  return true;
}

bool Server::addFault(const Fault& fault, std::string& error) {
  const std::vector<std::string>& names = routeNames();
  if (fault.route != "*" && std::find(names.begin(), names.end(), fault.route) == names.end()) {
    error = "unknown route \"" + fault.route + "\"";
    return false;
  }
  if (fault.status != 0 && (fault.status < 100 || fault.status > 599)) {
    error = "status out of range";
    return false;
  }
  impl_->state.addFault(fault);
  return true;
}

}  // namespace CloudSim
