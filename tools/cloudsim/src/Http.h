#pragma once

// The small HTTP/1.1 subset the simulator speaks: one request per connection,
// bodies by Content-Length only. Headers stay in wire order because tests assert it.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace CloudSim {
namespace Http {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;
  std::string target;
  HeaderList headers;
  std::string body;
  std::size_t contentLength = 0;
};

enum class HeadStatus {
  Ok,
  Bad,          // 400: not a well-formed request line or header
  TooLarge,     // 413: Content-Length above kMaxBodyBytes
  Unsupported,  // 501: Transfer-Encoding, or an HTTP version other than 1.0/1.1
};

// Parses the request line and headers; `head` is everything before the blank line
// (without the final CRLF CRLF). Fills method, target, headers and contentLength.
HeadStatus parseHead(const std::string& head, Request& request);

// True when the request carries "Expect: 100-continue".
bool expectsContinue(const Request& request);

// The target without its query part.
std::string pathOf(const std::string& target);

const char* reasonPhrase(int status);

// A complete response: status line, Content-Type, Content-Length, Connection: close, body.
std::string buildResponse(int status, const std::string& body,
                          const std::string& contentType = "application/json");

}  // namespace Http
}  // namespace CloudSim
