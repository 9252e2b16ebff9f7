#include "ModuleState.h"

#include <sddl.h>

#include <atomic>
#include <mutex>

#include "Korvath/KvGeolocator.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "Korvath/Utils.h"
#include "ProviderEnvironment.h"

namespace Korvath {
namespace Provider {

namespace {

std::atomic<long> g_objects{0};
std::atomic<HMODULE> g_module{nullptr};

struct RemoteState {
  std::mutex mutex;
  std::string clientAddress;
  bool remoteCredential = false;
};
RemoteState& remote() {
  static RemoteState state;
  return state;
}

INIT_ONCE g_logOnce = INIT_ONCE_STATIC_INIT;

// Creates the file if it is missing and gives it a protected DACL granting SYSTEM and
// Administrators only. SetFileSecurityW on the closed file, because Wine ignores
// SetNamedSecurityInfoW for files.
bool prepareOwnerOnlyFile(const std::string& path) {
  std::wstring wide = Utils::toWide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            &attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE;
  if (ok) CloseHandle(file);
  // A file that was there already keeps its old descriptor through OPEN_ALWAYS.
  ok = ok && SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return ok;
}

BOOL CALLBACK openLogOnce(PINIT_ONCE, PVOID, PVOID*) {
  // The value is read here, not at attach: reading the registry and deriving the log key
  // load further libraries, which must not happen under the loader lock.
  if (!isLogEnabled() || Logger::isOpen()) return TRUE;
  // The records are sealed, but who signs in when is still nobody else's business: the file
  // is readable by SYSTEM and Administrators only before anything is written to it.
  const std::string path = Platform::logFilePath();
  if (!prepareOwnerOnlyFile(path)) return TRUE;
  if (!Logger::open(path)) return TRUE;
  Logger::write(__LINE__, __FILE__, "info", "Log opening");
  return TRUE;
}

}  // namespace

void objectAdded() { ++g_objects; }
void objectRemoved() { --g_objects; }
long objectCount() { return g_objects.load(); }

HRESULT canUnloadNow() {
  if (g_objects.load() > 0) return S_FALSE;
  // The geolocation task runs code of this library until it has been joined.
  if (geolocator().isRunning()) return S_FALSE;
  return S_OK;
}

HMODULE moduleHandle() { return g_module.load(); }
void setModuleHandle(HMODULE module) { g_module.store(module); }

void openLogOnFirstUse() { InitOnceExecuteOnce(&g_logOnce, openLogOnce, nullptr, nullptr); }

void closeLogAtUnload() {
  if (!Logger::isOpen()) return;
  Logger::write(__LINE__, __FILE__, "info", "Closing log");
  Logger::close();
}

std::string remoteClientAddress() {
  std::lock_guard<std::mutex> lock(remote().mutex);
  return remote().clientAddress;
}

void setRemoteClientAddress(const std::string& address) {
  std::lock_guard<std::mutex> lock(remote().mutex);
  remote().clientAddress = address;
}

bool hasRemoteCredential() {
  std::lock_guard<std::mutex> lock(remote().mutex);
  return remote().remoteCredential;
}

void setRemoteCredential(bool value) {
  std::lock_guard<std::mutex> lock(remote().mutex);
  remote().remoteCredential = value;
}

}  // namespace Provider
}  // namespace Korvath
