#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <winevt.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "Korvath/Utils.h"
#include "Korvath/win32/RemoteSessionWin32.h"

namespace Korvath {
namespace Utils {
namespace ConnectionUtils {

namespace {

struct Channel {
  const wchar_t* path;
  const wchar_t* query;
};

const Channel kChannels[] = {
    {L"Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational", L"*[System[(EventID=131)]]"},
    {L"Microsoft-Windows-TerminalServices-RemoteConnectionManager/Operational", L"*[System[(EventID=1149)]]"},
};

template <typename F>
F resolve(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::uint16_t rdpPort() {
  DWORD port = 0;
  DWORD size = sizeof port;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Terminal Server\\WinStations\\RDP-Tcp",
                   L"PortNumber", RRF_RT_REG_DWORD, nullptr, &port, &size) == ERROR_SUCCESS &&
      port > 0 && port < 65536) {
    return static_cast<std::uint16_t>(port);
  }
  return 3389;
}

}  // namespace

const EventLogApi& systemEventLogApi() {
  static const EventLogApi api = [] {
    EventLogApi a;
    HMODULE module = LoadLibraryExW(L"wevtapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return a;
    a.query = resolve<decltype(a.query)>(module, "EvtQuery");
    a.next = resolve<decltype(a.next)>(module, "EvtNext");
    a.render = resolve<decltype(a.render)>(module, "EvtRender");
    a.close = resolve<decltype(a.close)>(module, "EvtClose");
    return a;
  }();
  return api;
}

std::wstring addressFromEventLog(const EventLogApi& api) {
  if (!api.complete()) return std::wstring();
  for (const Channel& channel : kChannels) {
    EVT_HANDLE results = api.query(nullptr, channel.path, channel.query,
                                   EvtQueryChannelPath | EvtQueryReverseDirection);
    if (results == nullptr) continue;
    EVT_HANDLE event = nullptr;
    DWORD returned = 0;
    std::string address;
    if (api.next(results, 1, &event, 1000, 0, &returned) && returned == 1 && event != nullptr) {
      DWORD used = 0;
      DWORD properties = 0;
      api.render(nullptr, event, EvtRenderEventXml, 0, nullptr, &used, &properties);
      // The renderer reports the size it needs; a size that is not a whole number of
      // UTF-16 units or is absurdly large is not trusted.
      if (used > 0 && used % sizeof(wchar_t) == 0 && used <= 1024 * 1024) {
        std::wstring xml(used / sizeof(wchar_t), L'\0');
        DWORD usedAgain = 0;
        if (api.render(nullptr, event, EvtRenderEventXml, used, &xml[0], &usedAgain, &properties) &&
            usedAgain <= used) {
          xml.resize(wcsnlen(xml.c_str(), usedAgain / sizeof(wchar_t)));
          address = addressFromEventXml(toUtf8(xml));
        }
      }
      api.close(event);
    }
    api.close(results);
    if (!address.empty()) return toWide(address);
  }
  return std::wstring();
}

std::wstring Win32RemoteAddressSource::fromEventLog() { return addressFromEventLog(api_); }

std::wstring Win32RemoteAddressSource::fromSessionInformation() {
  LPWSTR buffer = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientAddress, &buffer,
                                   &bytes) ||
      buffer == nullptr) {
    return std::wstring();
  }
  std::string address;
  if (bytes >= sizeof(WTS_CLIENT_ADDRESS)) {
    const auto* client = reinterpret_cast<const WTS_CLIENT_ADDRESS*>(buffer);
    if (client->AddressFamily == AF_INET) {
      const TcpRow row{5, 0, 0,
                       (static_cast<std::uint32_t>(client->Address[2]) << 24) |
                           (static_cast<std::uint32_t>(client->Address[3]) << 16) |
                           (static_cast<std::uint32_t>(client->Address[4]) << 8) | client->Address[5],
                       0};
      address = rdpPeerFromTcpTable({row}, 0);
    }
  }
  WTSFreeMemory(buffer);
  return toWide(address);
}

std::wstring Win32RemoteAddressSource::fromTcpTable() {
  DWORD size = 0;
  if (GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0) != ERROR_INSUFFICIENT_BUFFER ||
      size < sizeof(DWORD)) {
    return std::wstring();
  }
  std::vector<unsigned char> buffer(size + 16 * sizeof(MIB_TCPROW_OWNER_PID));
  size = static_cast<DWORD>(buffer.size());
  if (GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0) != NO_ERROR ||
      size < offsetof(MIB_TCPTABLE_OWNER_PID, table) || size > buffer.size()) {
    return std::wstring();
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  const std::size_t capacity = (size - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
  const std::size_t count = table->dwNumEntries < capacity ? table->dwNumEntries : capacity;
  std::vector<TcpRow> rows;
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const MIB_TCPROW_OWNER_PID& r = table->table[i];
    rows.push_back(TcpRow{r.dwState, ntohl(r.dwLocalAddr), ntohs(static_cast<u_short>(r.dwLocalPort)),
                          ntohl(r.dwRemoteAddr), ntohs(static_cast<u_short>(r.dwRemotePort))});
  }
  return toWide(rdpPeerFromTcpTable(rows, rdpPort()));
}

IRemoteAddressSource& systemRemoteAddressSource() {
  static Win32RemoteAddressSource source(systemEventLogApi());
  return source;
}

}  // namespace ConnectionUtils
}  // namespace Utils
}  // namespace Korvath
