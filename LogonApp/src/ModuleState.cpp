#include "ModuleState.h"


#include <atomic>
#include <mutex>

#include "Korvath/KvGeolocator.h"
#include "Korvath/Logger.h"
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

BOOL CALLBACK openLogOnce(PINIT_ONCE, PVOID, PVOID*) {
  // The value is read here, not at attach: reading the registry and deriving the log key
  // load further libraries, which must not happen under the loader lock.
  if (!isLogEnabled() || Logger::isOpen()) return TRUE;
  // Opening makes the file readable by SYSTEM and Administrators only before anything is
  // written to it.
  if (!Logger::open()) return TRUE;
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
