// Windows HTTPS exchange with WinHTTP: one synchronous session for the process (its TLS
// set-up, credentials and session cache are made once), a connection and a request per
// exchange, keep-alive disabled, every timeout 4000 ms. Certificate checks stay as WinHTTP
// makes them (no security flag that would accept an unknown authority, a wrong name or an
// expired certificate) and only TLS 1.2 and TLS 1.3 are offered.

#include <windows.h>
#include <winhttp.h>

#include <mutex>

#include "HttpsTarget.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/Logger.h"

namespace Korvath {
namespace Cloud {

namespace {

bool toWide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], length) == length;
}

// The failing call's error number; never 0, which would read as "no error". Some WinHTTP
// implementations (Wine's) let a receive timeout through as the socket's WSAETIMEDOUT; it is
// the same event as ERROR_WINHTTP_TIMEOUT and is reported as that.
int lastError() {
  const DWORD error = GetLastError();
  if (error == WSAETIMEDOUT) return static_cast<int>(kHttpsErrorTimeout);
  return error != 0 ? static_cast<int>(error) : static_cast<int>(kHttpsErrorInternal);
}

// The process's session, opened by the first exchange with its timeouts and protocols. It is
// never closed: WinHTTP must not be called while the library is being unloaded (DllMain), and
// the handle goes with the process. A session that could not be set up is closed again and
// the next exchange tries anew. Session handles may be used by several threads at once.
HINTERNET processSession(int& error) {
  static std::mutex mutex;
  static HINTERNET session = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  error = 0;
  if (session != nullptr) return session;
  HINTERNET opened =
      WinHttpOpen(L"Korvath", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (opened == nullptr) {
    error = lastError();
    KV_LOG_ERROR("%s Failed to create a HTTP session. Error code: %d ", "Korvath::RESTClient::createSessionHandle", error);
    return nullptr;
  }
  if (!WinHttpSetTimeouts(opened, HttpsExchange::kTimeoutMs, HttpsExchange::kTimeoutMs, HttpsExchange::kTimeoutMs,
                          HttpsExchange::kTimeoutMs)) {
    error = lastError();
    KV_LOG_ERROR("Failed to set HTTP timeouts. Error code: %d ", error);
    WinHttpCloseHandle(opened);
    return nullptr;
  }
  // TLS 1.2 and 1.3; systems that do not know TLS 1.3 refuse the pair, then TLS 1.2 alone.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(opened, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    if (!WinHttpSetOption(opened, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
      error = lastError();
      KV_LOG_ERROR("Failed to set security protocol. Error code: %d ", error);
      WinHttpCloseHandle(opened);
      return nullptr;
    }
  }
  session = opened;
  return session;
}

}  // namespace

struct HttpsExchange::Impl {
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;

  void release() {
    // Request, connection: each closed once and cleared; the session stays for the process.
    if (request != nullptr) {
      WinHttpCloseHandle(request);
      request = nullptr;
    }
    if (connection != nullptr) {
      WinHttpCloseHandle(connection);
      connection = nullptr;
    }
  }
};

HttpsExchange::HttpsExchange() : impl_(new Impl) {}

HttpsExchange::~HttpsExchange() { close(); }

void HttpsExchange::close() { impl_->release(); }

void HttpsExchange::addTrustAnchorFile(const std::string&) {
  // WinHTTP trusts the machine's store only; a test CA is installed there for the run.
}

std::uint32_t HttpsExchange::open(const std::string& host, std::uint16_t port, const std::string& method,
                                  const std::string& path, const std::vector<std::string>& headers) {
  close();
  std::wstring wideHost;
  std::wstring widePath;
  std::wstring wideMethod;
  if (!Detail::isSafeTarget(host, path) || !toWide(host, wideHost) || !toWide(path, widePath) ||
      !toWide(method, wideMethod)) {
    KV_LOG_ERROR("Invalid URL. Error code: %d ", static_cast<int>(kHttpsErrorInvalidUrl));
    return kHttpsErrorInvalidUrl;
  }

  int sessionError = 0;
  HINTERNET session = processSession(sessionError);
  if (session == nullptr) return static_cast<std::uint32_t>(sessionError);
  impl_->connection = WinHttpConnect(session, wideHost.c_str(), port, 0);
  if (impl_->connection == nullptr) {
    const int error = lastError();
    KV_LOG_ERROR("%s Failed connecting to the server. Error code: %d ", "Korvath::RESTClient::connectWithHttpServer", error);
    close();
    return static_cast<std::uint32_t>(error);
  }
  impl_->request = WinHttpOpenRequest(impl_->connection, wideMethod.c_str(), widePath.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (impl_->request == nullptr) {
    const int error = lastError();
    KV_LOG_ERROR("Failed to create HTTP request handle. Error code: %d ", error);
    close();
    return static_cast<std::uint32_t>(error);
  }
  // Waiting for the answer's headers has a timeout of its own (90 s unless set); it gets the
  // same 4000 ms so that a server that accepts and stays silent ends the exchange as quickly.
  DWORD responseTimeout = kTimeoutMs;
  if (!WinHttpSetOption(impl_->request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                        sizeof(responseTimeout))) {
    const int error = lastError();
    KV_LOG_ERROR("Failed to set HTTP timeouts. Error code: %d ", error);
    close();
    return static_cast<std::uint32_t>(error);
  }
  DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
  if (!WinHttpSetOption(impl_->request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature))) {
    const int error = lastError();
    KV_LOG_ERROR("Failed to disable the HTTP keep alive. Error code: %d ", error);
    close();
    return static_cast<std::uint32_t>(error);
  }
  for (const auto& header : headers) {
    std::wstring wideHeader;
    if (!toWide(header, wideHeader) ||
        !WinHttpAddRequestHeaders(impl_->request, wideHeader.c_str(), static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD)) {
      const int error = lastError();
      KV_LOG_ERROR("Failed adding %s header. Error code: %d", header.c_str(), error);
      close();
      return static_cast<std::uint32_t>(error);
    }
  }
  return kHttpsNoError;
}

HttpsResult HttpsExchange::sendAndReceive(const std::string& body) {
  HttpsResult result;
  if (impl_->request == nullptr) {
    result.transportError = kHttpsErrorInternal;
    return result;
  }
  const DWORD length = static_cast<DWORD>(body.size());
  LPVOID data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
  if (!WinHttpSendRequest(impl_->request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0)) {
    result.transportError = static_cast<std::uint32_t>(lastError());
    KV_LOG_ERROR("Failed sending the HTTP request. Error code: %d ", static_cast<int>(result.transportError));
    close();
    return result;
  }
  if (!WinHttpReceiveResponse(impl_->request, nullptr)) {
    result.transportError = static_cast<std::uint32_t>(lastError());
    KV_LOG_ERROR("Failed to receive the HTTP response. Error code: %d ", static_cast<int>(result.transportError));
    close();
    return result;
  }
  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!WinHttpQueryHeaders(impl_->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    result.transportError = kHttpsErrorInvalidServerResponse;
    close();
    return result;
  }
  std::string reply;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(impl_->request, &available)) {
      result.transportError = static_cast<std::uint32_t>(lastError());
      KV_LOG_ERROR("Error retrieving the response body size. Error code: %d", static_cast<int>(result.transportError));
      close();
      return result;
    }
    if (available == 0) break;
    if (available > kMaxReplyBytes - reply.size()) {
      result.transportError = kHttpsErrorInvalidServerResponse;
      KV_LOG_ERROR("Error getting the response body. Error code: %d ", static_cast<int>(result.transportError));
      close();
      return result;
    }
    std::string chunk(static_cast<std::size_t>(available) + 1, '\0');
    DWORD read = 0;
    if (!WinHttpReadData(impl_->request, &chunk[0], available, &read)) {
      result.transportError = static_cast<std::uint32_t>(lastError());
      KV_LOG_ERROR("Error getting the response body. Error code: %d ", static_cast<int>(result.transportError));
      close();
      return result;
    }
    reply.append(chunk.data(), read);
  }
  // The body is text: it ends at its first NUL byte.
  const auto nul = reply.find('\0');
  if (nul != std::string::npos) reply.resize(nul);
  result.httpStatus = status;
  result.body = std::move(reply);
  return result;
}

}  // namespace Cloud
}  // namespace Korvath
