#include "Http.h"

#include <cctype>

namespace CloudSim {
namespace Http {
namespace {

bool isTokenChar(char c) {
  static const std::string extra = "!#$%&'*+-.^_`|~";
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || extra.find(c) != std::string::npos;
}

bool isToken(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!isTokenChar(c)) return false;
  }
  return true;
}

std::string trimOws(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool equalsIgnoreCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// Splits on CRLF; a bare LF or CR inside the head makes the request malformed.
bool splitLines(const std::string& head, std::vector<std::string>& lines) {
  std::size_t start = 0;
  while (true) {
    std::size_t crlf = head.find("\r\n", start);
    std::string line = head.substr(start, crlf == std::string::npos ? std::string::npos : crlf - start);
    if (line.find('\r') != std::string::npos || line.find('\n') != std::string::npos) return false;
    lines.push_back(line);
    if (crlf == std::string::npos) return true;
    start = crlf + 2;
  }
}

}  // namespace

HeadStatus parseHead(const std::string& head, Request& request) {
  if (head.size() > kMaxHeadBytes) return HeadStatus::Bad;
  std::vector<std::string> lines;
  if (!splitLines(head, lines) || lines.empty()) return HeadStatus::Bad;

  const std::string& requestLine = lines[0];
  std::size_t sp1 = requestLine.find(' ');
  if (sp1 == std::string::npos) return HeadStatus::Bad;
  std::size_t sp2 = requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || requestLine.find(' ', sp2 + 1) != std::string::npos) {
    return HeadStatus::Bad;
  }
  request.method = requestLine.substr(0, sp1);
  request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string version = requestLine.substr(sp2 + 1);
  if (!isToken(request.method) || request.target.empty() || request.target[0] != '/') {
    return HeadStatus::Bad;
  }
  for (char c : request.target) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return HeadStatus::Bad;
  }
  if (version.compare(0, 5, "HTTP/") != 0) return HeadStatus::Bad;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return HeadStatus::Unsupported;

  bool haveLength = false;
  request.contentLength = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) return HeadStatus::Bad;
    // Folded continuation lines are obsolete and a known smuggling vector.
    if (line[0] == ' ' || line[0] == '\t') return HeadStatus::Bad;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return HeadStatus::Bad;
    std::string name = line.substr(0, colon);
    if (!isToken(name)) return HeadStatus::Bad;
    std::string value = trimOws(line.substr(colon + 1));
    for (char c : value) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return HeadStatus::Bad;
    }
    if (equalsIgnoreCase(name, "Transfer-Encoding")) return HeadStatus::Unsupported;
    if (equalsIgnoreCase(name, "Content-Length")) {
      if (value.empty() || value.size() > 10) {
        return value.empty() ? HeadStatus::Bad : HeadStatus::TooLarge;
      }
      std::size_t length = 0;
      for (char c : value) {
        if (c < '0' || c > '9') return HeadStatus::Bad;
        length = length * 10 + static_cast<std::size_t>(c - '0');
      }
      if (haveLength && length != request.contentLength) return HeadStatus::Bad;
      haveLength = true;
      request.contentLength = length;
    }
    request.headers.emplace_back(std::move(name), std::move(value));
  }
  if (request.contentLength > kMaxBodyBytes) return HeadStatus::TooLarge;
  return HeadStatus::Ok;
}

bool expectsContinue(const Request& request) {
  for (const auto& header : request.headers) {
    if (equalsIgnoreCase(header.first, "Expect") && equalsIgnoreCase(header.second, "100-continue")) return true;
  }
  return false;
}

std::string pathOf(const std::string& target) {
  return target.substr(0, target.find('?'));
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

std::string buildResponse(int status, const std::string& body, const std::string& contentType) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
  out += "Content-Type: " + contentType + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  out += body;
  return out;
}

}  // namespace Http
}  // namespace CloudSim
