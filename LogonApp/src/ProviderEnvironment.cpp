#include "ProviderEnvironment.h"

#include <windows.h>

#include <vector>

#include "Korvath/Authentication/IdentitySeam.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/KvGeolocator.h"
#include "Korvath/Logger.h"

namespace Korvath {
namespace Provider {

namespace {

ProviderEnvironment& current() {
  static ProviderEnvironment environment;
  return environment;
}

// The process token's user is LocalSystem when its SID ends in SECURITY_LOCAL_SYSTEM_RID.
bool processTokenIsLocalSystem() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    KV_LOG_ERROR("OpenProcessToken failed. GetLastError returned: %lu\n", GetLastError());
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size == 0 ? 1 : size);
  bool isSystem = false;
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    KV_LOG_ERROR("2 GetTokenInformation failed. GetLastError returned: %lu\n", GetLastError());
  } else {
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid) || *GetSidSubAuthorityCount(sid) == 0) {
      KV_LOG_ERROR("The owner SID is invalid.\n");
    } else {
      const DWORD last = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
      KV_LOG_DEBUG("UID = %lu", last);
      isSystem = last == SECURITY_LOCAL_SYSTEM_RID;
    }
  }
  CloseHandle(token);
  return isSystem;
}

}  // namespace

Authentication::IdentitySeam& identitySeam() {
  return current().identity != nullptr ? *current().identity : Authentication::systemIdentity();
}

Geolocation::KvGeolocator& geolocator() {
  return current().geolocator != nullptr ? *current().geolocator : Geolocation::KvGeolocator::instance();
}

bool isRunningAsLocalSystem() {
  return current().runningAsLocalSystem != nullptr ? current().runningAsLocalSystem() : processTokenIsLocalSystem();
}

bool isRemoteSignIn() {
  if (Utils::isRemoteLogon()) return true;
  if (!identitySeam().currentSession().remote) return false;
  KV_LOG_DEBUG("%s - the session is a Remote Desktop session", "Korvath::Provider::isRemoteSignIn");
  Utils::setRemoteLogonFlag(1);
  return true;
}

void setProviderEnvironment(const ProviderEnvironment& environment) { current() = environment; }

}  // namespace Provider
}  // namespace Korvath
