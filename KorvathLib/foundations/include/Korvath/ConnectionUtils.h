#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Korvath {
namespace Utils {

// The process-wide remote-logon flag: 1 when the sign-in comes over Remote Desktop.
// Set by the provider filter and the dialog, read by the geolocation rule and the
// cloud requests.
void setRemoteLogonFlag(std::uint32_t flag);
std::uint32_t getRemoteLogonFlag();
inline bool isRemoteLogon() { return getRemoteLogonFlag() == 1; }

namespace ConnectionUtils {

// The three places, in order of preference, where the address of the Remote Desktop
// client can be found. Each answers empty text when it finds nothing.
class IRemoteAddressSource {
 public:
  virtual ~IRemoteAddressSource() = default;
  virtual std::wstring fromEventLog() = 0;
  virtual std::wstring fromSessionInformation() = 0;
  virtual std::wstring fromTcpTable() = 0;
};

// The flavour's source: the event log, WTS session information and the TCP table on
// Windows; natively none of them has anything (there is no remote session).
IRemoteAddressSource& systemRemoteAddressSource();

// The client address of the current Remote Desktop session: from the event logs, else
// the session's client address, else the TCP table; empty when none is found.
std::wstring getRemoteClientIpAddress();
std::wstring getRemoteClientIpAddress(IRemoteAddressSource& source);

// True for an IPv4 dotted quad or an IPv6 literal (at most 45 characters).
bool isIpAddressText(const std::string& text);

// The client address named by one rendered remote-connection event (the "ClientIP"
// data of a connection event, the "Param3" of an authentication event or the
// "Address" of a session event), without its port; empty when it names none.
std::string addressFromEventXml(const std::string& xml);

// One IPv4 row of the TCP table; addresses and ports in host byte order.
struct TcpRow {
  std::uint32_t state = 0;  // 5 = established
  std::uint32_t localAddress = 0;
  std::uint16_t localPort = 0;
  std::uint32_t remoteAddress = 0;
  std::uint16_t remotePort = 0;
};
// The remote end of the first established connection to the Remote Desktop port that
// does not come from the loopback network; empty when there is none.
std::string rdpPeerFromTcpTable(const std::vector<TcpRow>& rows, std::uint16_t rdpPort);

}  // namespace ConnectionUtils
}  // namespace Utils
}  // namespace Korvath
