#include "TlsClient.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

namespace CloudSimTest {

std::string caFile() { return std::string(KV_CLOUDSIM_TEST_CA_DIR) + "/ca.pem"; }
std::string certFile() { return std::string(KV_CLOUDSIM_TEST_CA_DIR) + "/server.pem"; }
std::string keyFile() { return std::string(KV_CLOUDSIM_TEST_CA_DIR) + "/server.key"; }

std::string buildRequest(const std::string& method, const std::string& path, const std::string& body) {
  std::string out = method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n";
  if (!body.empty() || method == "POST") out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "\r\n" + body;
  return out;
}

Exchange exchange(std::uint16_t port, const std::string& request, int maxTlsVersion, bool hangUp) {
  Exchange result;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return result;
  timeval tv{};
  tv.tv_sec = 30;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return result;
  }
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(ctx, caFile().c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  if (maxTlsVersion != 0) {
    // Old protocol versions are only offered at security level 0.
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(ctx, 0);
    SSL_CTX_set_max_proto_version(ctx, maxTlsVersion);
  }
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  SSL_set_tlsext_host_name(ssl, "localhost");
  SSL_set1_host(ssl, "localhost");
  if (SSL_connect(ssl) == 1) {
    result.handshake = true;
    std::size_t done = 0;
    while (done < request.size()) {
      int n = SSL_write(ssl, request.data() + done, static_cast<int>(request.size() - done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    char buf[8192];
    int n;
    while (!hangUp && (n = SSL_read(ssl, buf, sizeof buf)) > 0) result.raw.append(buf, static_cast<std::size_t>(n));
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  ERR_clear_error();
  ::close(fd);

  result.answered = !result.raw.empty();
  if (result.raw.compare(0, 9, "HTTP/1.1 ") == 0 && result.raw.size() >= 12) {
    result.status = std::atoi(result.raw.substr(9, 3).c_str());
  }
  std::size_t headEnd = result.raw.find("\r\n\r\n");
  if (headEnd != std::string::npos) result.body = result.raw.substr(headEnd + 4);
  return result;
}

}  // namespace CloudSimTest
