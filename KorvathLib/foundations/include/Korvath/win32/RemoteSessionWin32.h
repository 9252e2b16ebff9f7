#pragma once

// Windows sources of the Remote Desktop client's address. The event log functions are
// reached through a table so that a machine without them (or a test) can supply its own.

#include <windows.h>
#include <winevt.h>

#include <string>

#include "Korvath/ConnectionUtils.h"

namespace Korvath {
namespace Utils {
namespace ConnectionUtils {

struct EventLogApi {
  EVT_HANDLE(WINAPI* query)(EVT_HANDLE session, LPCWSTR path, LPCWSTR query, DWORD flags) = nullptr;
  BOOL(WINAPI* next)(EVT_HANDLE results, DWORD size, EVT_HANDLE* events, DWORD timeout, DWORD flags,
                     PDWORD returned) = nullptr;
  BOOL(WINAPI* render)(EVT_HANDLE context, EVT_HANDLE fragment, DWORD flags, DWORD bufferSize, PVOID buffer,
                       PDWORD bufferUsed, PDWORD propertyCount) = nullptr;
  BOOL(WINAPI* close)(EVT_HANDLE object) = nullptr;
  bool complete() const { return query && next && render && close; }
};

// The functions of wevtapi.dll, loaded on first use; incomplete when it is missing.
const EventLogApi& systemEventLogApi();

// The newest remote-connection event's client address: the connection events of the
// Remote Desktop core, then the authentication events of the connection manager.
std::wstring addressFromEventLog(const EventLogApi& api);

class Win32RemoteAddressSource : public IRemoteAddressSource {
 public:
  explicit Win32RemoteAddressSource(const EventLogApi& api) : api_(api) {}
  std::wstring fromEventLog() override;
  std::wstring fromSessionInformation() override;
  std::wstring fromTcpTable() override;

 private:
  const EventLogApi& api_;
};

}  // namespace ConnectionUtils
}  // namespace Utils
}  // namespace Korvath
