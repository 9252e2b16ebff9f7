#include "Korvath/ConnectionUtils.h"

#include <atomic>
#include <cctype>
#include <cstdio>

#include "Korvath/Logger.h"

namespace Korvath {
namespace Utils {

namespace {
std::atomic<std::uint32_t> g_remoteLogon{0};
}  // namespace

void setRemoteLogonFlag(std::uint32_t flag) { g_remoteLogon.store(flag); }
std::uint32_t getRemoteLogonFlag() { return g_remoteLogon.load(); }

namespace ConnectionUtils {

namespace {

bool isIpv4(const std::string& t) {
  int parts = 0;
  std::size_t i = 0;
  while (i <= t.size()) {
    std::size_t j = i;
    unsigned value = 0;
    while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j])) && j - i < 3) {
      value = value * 10 + static_cast<unsigned>(t[j] - '0');
      ++j;
    }
    if (j == i || value > 255) return false;
    ++parts;
    if (j == t.size()) break;
    if (t[j] != '.') return false;
    i = j + 1;
  }
  return parts == 4;
}

bool isIpv6(const std::string& t) {
  if (t.size() < 2 || t.size() > 45) return false;
  int colons = 0;
  for (char c : t) {
    if (c == ':') {
      ++colons;
    } else if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '.' && c != '%') {
      return false;
    }
  }
  return colons >= 2 && colons <= 7;
}

// Text of the first element that opens with `open` (up to the next '<').
std::string elementText(const std::string& xml, const std::string& open) {
  const std::size_t at = xml.find(open);
  if (at == std::string::npos) return std::string();
  const std::size_t begin = at + open.size();
  const std::size_t end = xml.find('<', begin);
  if (end == std::string::npos || end - begin > 128) return std::string();
  std::string text = xml.substr(begin, end - begin);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t lead = 0;
  while (lead < text.size() && std::isspace(static_cast<unsigned char>(text[lead]))) ++lead;
  return text.substr(lead);
}

std::string withoutPort(const std::string& text) {
  if (!text.empty() && text[0] == '[') {  // [v6]:port
    const std::size_t close = text.find(']');
    return close == std::string::npos ? std::string() : text.substr(1, close - 1);
  }
  const std::size_t first = text.find(':');
  if (first != std::string::npos && first == text.rfind(':')) {  // v4:port
    return text.substr(0, first);
  }
  return text;
}

class NoRemoteSource : public IRemoteAddressSource {
 public:
  std::wstring fromEventLog() override { return std::wstring(); }
  std::wstring fromSessionInformation() override { return std::wstring(); }
  std::wstring fromTcpTable() override { return std::wstring(); }
};

}  // namespace

bool isIpAddressText(const std::string& text) { return isIpv4(text) || isIpv6(text); }

std::string addressFromEventXml(const std::string& xml) {
  static const char* const kOpeners[] = {"<Data Name='ClientIP'>", "<Data Name=\"ClientIP\">", "<Param3>",
                                         "<Address>"};
  for (const char* open : kOpeners) {
    const std::string address = withoutPort(elementText(xml, open));
    if (isIpAddressText(address)) return address;
  }
  return std::string();
}

std::string rdpPeerFromTcpTable(const std::vector<TcpRow>& rows, std::uint16_t rdpPort) {
  for (const TcpRow& row : rows) {
    if (row.state != 5 || row.localPort != rdpPort) continue;
    if ((row.remoteAddress >> 24) == 127 || row.remoteAddress == 0) continue;
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (row.remoteAddress >> 24) & 0xFF,
                  (row.remoteAddress >> 16) & 0xFF, (row.remoteAddress >> 8) & 0xFF, row.remoteAddress & 0xFF);
    return text;
  }
  return std::string();
}

std::wstring getRemoteClientIpAddress(IRemoteAddressSource& source) {
  std::wstring address = source.fromEventLog();
  if (!address.empty()) {
    KV_LOG_DEBUG("%s - client address from the event log", "Korvath::Utils::ConnectionUtils::getRemoteClientIpAddress");
    return address;
  }
  address = source.fromSessionInformation();
  if (!address.empty()) {
    KV_LOG_DEBUG("%s - client address from the session information", "Korvath::Utils::ConnectionUtils::getRemoteClientIpAddress");
    return address;
  }
  address = source.fromTcpTable();
  if (!address.empty()) {
    KV_LOG_DEBUG("%s - client address from the TCP table", "Korvath::Utils::ConnectionUtils::getRemoteClientIpAddress");
  }
  return address;
}

std::wstring getRemoteClientIpAddress() { return getRemoteClientIpAddress(systemRemoteAddressSource()); }

#ifndef _WIN32
IRemoteAddressSource& systemRemoteAddressSource() {
  static NoRemoteSource source;
  return source;
}
#endif

}  // namespace ConnectionUtils
}  // namespace Utils
}  // namespace Korvath
