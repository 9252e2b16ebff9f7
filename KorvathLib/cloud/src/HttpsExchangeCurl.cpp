// Native HTTPS exchange with libcurl, reporting failures with the WinHTTP error numbers.

#include <curl/curl.h>

#include <chrono>
#include <mutex>

#include "HttpsTarget.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/Logger.h"

namespace Korvath {
namespace Cloud {

namespace {

std::mutex& anchorMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& anchorFile() {
  static std::string file;
  return file;
}

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One TLS set-up for the process: a finished exchange hands its handle back and the next one
// takes it again, with what libcurl keeps in a handle from one exchange to the next: the
// certificate store it has loaded (CURLOPT_CA_CACHE_TIMEOUT), the TLS sessions it can resume
// and the names it has resolved. Every option is set anew for each exchange (curl_easy_reset
// clears them all), and each exchange still has a connection of its own. Handles of
// exchanges that run at the same time (the push task beside the dialog) are distinct.
class HandlePool {
 public:
  CURL* take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        CURL* easy = idle_.back();
        idle_.pop_back();
        return easy;
      }
    }
    return curl_easy_init();
  }
  void give(CURL* easy) {
    curl_easy_reset(easy);
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() < kMaxIdle) {
      idle_.push_back(easy);
      return;
    }
    curl_easy_cleanup(easy);
  }

 private:
  static constexpr std::size_t kMaxIdle = 4;
  std::mutex mutex_;
  std::vector<CURL*> idle_;
};

HandlePool& handlePool() {
  static HandlePool* pool = new HandlePool;  // lives as long as the process: exchanges may end during exit
  return *pool;
}

std::uint32_t mapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return kHttpsNoError;
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpsErrorTimeout;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return kHttpsErrorInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return kHttpsErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kHttpsErrorCannotConnect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return kHttpsErrorSecureFailure;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return kHttpsErrorConnectionError;
    // A connection closed without a single byte of answer: WinHTTP calls that an invalid
    // server response.
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_FILESIZE_EXCEEDED:
      return kHttpsErrorInvalidServerResponse;
    case CURLE_OUT_OF_MEMORY:
      return kHttpsErrorNotEnoughMemory;
    default:
      return kHttpsErrorInternal;
  }
}

struct ReplySink {
  std::string body;
  bool tooLarge = false;
};

size_t writeReply(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ReplySink*>(user);
  const size_t bytes = size * count;
  if (bytes > HttpsExchange::kMaxReplyBytes - sink->body.size()) {
    sink->tooLarge = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  sink->body.append(data, bytes);
  return bytes;
}

// Sending and receiving time out as WinHTTP's send and receive timeouts do: once connected,
// an exchange ends when no byte has moved either way for kTimeoutMs.
struct IdleWatch {
  CURL* easy = nullptr;
  curl_off_t lastDown = -1;
  curl_off_t lastUp = -1;
  std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
  bool timedOut = false;
};

int watchIdle(void* user, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
  auto* watch = static_cast<IdleWatch*>(user);
  const auto now = std::chrono::steady_clock::now();
  curl_off_t connected = 0;
  curl_easy_getinfo(watch->easy, CURLINFO_APPCONNECT_TIME_T, &connected);
  if (connected == 0 || downNow != watch->lastDown || upNow != watch->lastUp) {
    // Until the TLS connection stands the connect timeout applies.
    watch->lastDown = downNow;
    watch->lastUp = upNow;
    watch->lastMove = now;
    return 0;
  }
  if (now - watch->lastMove >= std::chrono::milliseconds(HttpsExchange::kTimeoutMs)) {
    watch->timedOut = true;
    return 1;  // makes libcurl stop with CURLE_ABORTED_BY_CALLBACK
  }
  return 0;
}

}  // namespace

struct HttpsExchange::Impl {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string method;

  void release() {
    if (headers != nullptr) {
      curl_slist_free_all(headers);
      headers = nullptr;
    }
    if (easy != nullptr) {
      handlePool().give(easy);
      easy = nullptr;
    }
  }
};

HttpsExchange::HttpsExchange() : impl_(new Impl) { globalInit(); }

HttpsExchange::~HttpsExchange() { close(); }

void HttpsExchange::close() { impl_->release(); }

void HttpsExchange::addTrustAnchorFile(const std::string& pemFile) {
  std::lock_guard<std::mutex> lock(anchorMutex());
  anchorFile() = pemFile;
}

std::uint32_t HttpsExchange::open(const std::string& host, std::uint16_t port, const std::string& method,
                                  const std::string& path, const std::vector<std::string>& headers) {
  close();
  if (method != "GET" && method != "POST") {
    return kHttpsErrorInternal;
  }
  if (!Detail::isSafeTarget(host, path)) {
    KV_LOG_ERROR("Invalid URL. Error code: %d ", static_cast<int>(kHttpsErrorInvalidUrl));
    return kHttpsErrorInvalidUrl;
  }
  impl_->easy = handlePool().take();
  if (impl_->easy == nullptr) {
    KV_LOG_ERROR("%s Failed to create a HTTP session. Error code: %d ", "Korvath::RESTClient::createSessionHandle",
                 static_cast<int>(kHttpsErrorInternal));
    return kHttpsErrorInternal;
  }
  CURL* easy = impl_->easy;
  const std::string url = "https://" + host + ":" + std::to_string(port) + path;
  CURLcode rc = curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_USERAGENT, "Korvath");
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // HTTP/1.1 as WinHTTP speaks it, so that the service sees the same request from both.
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // Resolution and connection (with the TLS handshake) within the connect timeout; a
  // stalled send or receive ends once no byte has moved for as long (IdleWatch), and the
  // whole exchange never takes longer than the four timeouts together.
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kTimeoutMs));
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(4 * kTimeoutMs));
  if (rc != CURLE_OK) {
    KV_LOG_ERROR("Failed to set HTTP timeouts. Error code: %d ", static_cast<int>(mapCurlError(rc)));
    close();
    return mapCurlError(rc);
  }
  rc = curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (rc == CURLE_OK) {
    std::lock_guard<std::mutex> lock(anchorMutex());
    if (!anchorFile().empty()) rc = curl_easy_setopt(easy, CURLOPT_CAINFO, anchorFile().c_str());
  }
  // Anchors from the bundle file alone (the distribution's bundle holds every certificate of
  // its certificate directory): libcurl then keeps the store it loaded for the next exchange
  // on this handle instead of parsing the file again.
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  if (rc != CURLE_OK) {
    KV_LOG_ERROR("Failed to set security protocol. Error code: %d ", static_cast<int>(mapCurlError(rc)));
    close();
    return mapCurlError(rc);
  }
  // One exchange per connection, as with keep-alive disabled.
  rc = curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  if (rc != CURLE_OK) {
    KV_LOG_ERROR("Failed to disable the HTTP keep alive. Error code: %d ", static_cast<int>(mapCurlError(rc)));
    close();
    return mapCurlError(rc);
  }
  for (const auto& header : headers) {
    curl_slist* next = curl_slist_append(impl_->headers, header.c_str());
    if (next == nullptr) {
      KV_LOG_ERROR("Failed adding %s header. Error code: %d", header.c_str(), static_cast<int>(kHttpsErrorNotEnoughMemory));
      close();
      return kHttpsErrorNotEnoughMemory;
    }
    impl_->headers = next;
  }
  // libcurl would otherwise add "Expect: 100-continue" to larger bodies.
  curl_slist* next = curl_slist_append(impl_->headers, "Expect:");
  if (next == nullptr) {
    close();
    return kHttpsErrorNotEnoughMemory;
  }
  impl_->headers = next;
  rc = curl_easy_setopt(easy, CURLOPT_HTTPHEADER, impl_->headers);
  if (rc != CURLE_OK) {
    KV_LOG_ERROR("Failed adding %s header. Error code: %d", "request", static_cast<int>(mapCurlError(rc)));
    close();
    return mapCurlError(rc);
  }
  impl_->method = method;
  return kHttpsNoError;
}

HttpsResult HttpsExchange::sendAndReceive(const std::string& body) {
  HttpsResult result;
  CURL* easy = impl_->easy;
  if (easy == nullptr) {
    result.transportError = kHttpsErrorInternal;
    return result;
  }
  ReplySink sink;
  IdleWatch watch;
  watch.easy = easy;
  CURLcode rc = curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, watchIdle);
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &watch);
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  if (impl_->method == "POST") {
    if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_POST, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
  } else if (rc == CURLE_OK) {
    rc = curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeReply);
  if (rc == CURLE_OK) rc = curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  if (rc == CURLE_OK) rc = curl_easy_perform(easy);
  if (sink.tooLarge) {
    KV_LOG_ERROR("Error getting the response body. Error code: %d ", static_cast<int>(kHttpsErrorInvalidServerResponse));
    result.transportError = kHttpsErrorInvalidServerResponse;
    close();
    return result;
  }
  if (rc != CURLE_OK) {
    result.transportError = watch.timedOut ? kHttpsErrorTimeout : mapCurlError(rc);
    KV_LOG_ERROR("Failed sending the HTTP request. Error code: %d ", static_cast<int>(result.transportError));
    close();
    return result;
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  result.httpStatus = static_cast<std::uint32_t>(status);
  // The body is text: it ends at its first NUL byte, as the Windows reader keeps it.
  const auto nul = sink.body.find('\0');
  if (nul != std::string::npos) sink.body.resize(nul);
  result.body = std::move(sink.body);
  return result;
}

}  // namespace Cloud
}  // namespace Korvath
