#pragma once

// One HTTPS exchange with the cloud service: WinHTTP on Windows, libcurl natively.
// Both report what happened in the same terms: either a Win32-style error number of the
// transport (the connection, TLS or the reply could not be completed) or the HTTP status
// of an answer, in separate fields, so that an error number can never pass for a status.
//
// Certificates are always verified against the machine's trust store and only TLS 1.2
// or later is offered. There is no way to switch verification off.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Korvath {
namespace Cloud {

// Win32 error numbers reported by both implementations (the WinHTTP values).
enum HttpsError : std::uint32_t {
  kHttpsNoError = 0,
  kHttpsErrorNotEnoughMemory = 8,          // ERROR_NOT_ENOUGH_MEMORY
  kHttpsErrorTimeout = 12002,              // ERROR_WINHTTP_TIMEOUT
  kHttpsErrorInternal = 12004,             // ERROR_WINHTTP_INTERNAL_ERROR
  kHttpsErrorInvalidUrl = 12005,           // ERROR_WINHTTP_INVALID_URL
  kHttpsErrorNameNotResolved = 12007,      // ERROR_WINHTTP_NAME_NOT_RESOLVED
  kHttpsErrorCannotConnect = 12029,        // ERROR_WINHTTP_CANNOT_CONNECT
  kHttpsErrorConnectionError = 12030,      // ERROR_WINHTTP_CONNECTION_ERROR
  kHttpsErrorInvalidServerResponse = 12152,  // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
  kHttpsErrorSecureChannel = 12157,        // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
  kHttpsErrorSecureFailure = 12175,        // ERROR_WINHTTP_SECURE_FAILURE
};

// What one exchange produced. `transportError` is 0 exactly when an HTTP answer arrived;
// `httpStatus` is meaningful only then. `body` is the raw reply body (empty on a transport
// error, also when the reply was larger than kMaxReplyBytes).
struct HttpsResult {
  std::uint32_t transportError = kHttpsNoError;
  std::uint32_t httpStatus = 0;
  std::string body;

  bool answered() const { return transportError == kHttpsNoError; }
};

class HttpsExchange {
 public:
  // Replies above this size are refused (kHttpsErrorInvalidServerResponse), never kept.
  static constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
  // Every timeout of an exchange: name resolution, connect, send and receive.
  static constexpr int kTimeoutMs = 4000;

  HttpsExchange();
  // Closes what is still open (request, connection, session).
  ~HttpsExchange();
  HttpsExchange(const HttpsExchange&) = delete;
  HttpsExchange& operator=(const HttpsExchange&) = delete;

  // Prepares a request to https://<host>:<port><path> with `method` ("GET" or "POST") and
  // the given header lines ("Name: value"), sent in this order after the transport's own.
  // Whatever a previous exchange left open is closed first. Returns 0 or a Win32 error number;
  // on failure everything opened here is closed again.
  std::uint32_t open(const std::string& host, std::uint16_t port, const std::string& method,
                     const std::string& path, const std::vector<std::string>& headers);
  // Sends `body` (may be empty: no body) on the prepared request and reads the answer.
  HttpsResult sendAndReceive(const std::string& body);
  // Closes the request, connection and session that are open, in this order.
  void close();

  // Natively, the PEM file of trust anchors for the rest of the process, in place of the
  // distribution's bundle (on Windows the machine store is the only one and this has no
  // effect). Meant for tests that run their own certification authority.
  static void addTrustAnchorFile(const std::string& pemFile);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Cloud
}  // namespace Korvath
