#include "HalvaneProviderFilter.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <string>

#include "ComSupport.h"
#include "CredentialTypes.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"
#include "Korvath/Authentication/IdentitySeam.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"

namespace Korvath {
namespace Provider {

namespace {

const char* const kClass = "HalvaneProviderFilter";

// Another identifier of the library's family that this module does not serve.
const CLSID kFamilyProvider = {0xb4841ac3, 0xbb3f, 0x4bbf, {0x8f, 0x90, 0xe2, 0x5b, 0x45, 0xef, 0x4c, 0xb4}};
// Providers that stay as LogonUI has them: Windows' picture password (which the tag-204
// wrapper shares) and two others that must never be hidden.
const CLSID kAlwaysAllowed[] = {
    {0x2135f72a, 0x90b5, 0x4ed3, {0xa7, 0xf1, 0x8b, 0xb7, 0x05, 0xac, 0x27, 0x6a}},
    {0x00002ba3, 0xbcc4, 0x4c7d, {0xae, 0xc7, 0x36, 0x3f, 0x16, 0x4f, 0xd1, 0x78}},
    {0x4834dbc7, 0x4a06, 0x424d, {0xa6, 0x7f, 0x20, 0xdd, 0xeb, 0xcf, 0x00, 0xe1}},
};

const char* scenarioName(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
  switch (cpus) {
    case CPUS_LOGON:
      return "CPUS_LOGON";
    case CPUS_UNLOCK_WORKSTATION:
      return "CPUS_UNLOCK_WORKSTATION";
    case CPUS_CHANGE_PASSWORD:
      return "CPUS_CHANGE_PASSWORD";
    case CPUS_CREDUI:
      return "CPUS_CREDUI";
    case CPUS_PLAP:
      return "CPUS_PLAP";
    default:
      return "UNKNOWN";
  }
}

bool isAlwaysAllowed(REFCLSID clsid) {
  for (const CLSID& allowed : kAlwaysAllowed)
    if (IsEqualCLSID(allowed, clsid)) return true;
  return false;
}

}  // namespace

std::string localIpAddress() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return std::string();
  std::string address;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
      for (addrinfo* at = found; at != nullptr && address.empty(); at = at->ai_next) {
        if (at->ai_family != AF_INET || at->ai_addr == nullptr) continue;
        const auto* bytes =
            reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr);
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        address = text;
      }
      freeaddrinfo(found);
    }
  }
  WSACleanup();
  return address;
}

HalvaneProviderFilter::HalvaneProviderFilter() { objectAdded(); }

HalvaneProviderFilter::~HalvaneProviderFilter() { objectRemoved(); }

IFACEMETHODIMP HalvaneProviderFilter::QueryInterface(REFIID riid, void** ppv) {
  static const InterfaceEntry table[] = {{&IID_IUnknown, 0}, {&IID_ICredentialProviderFilter, 0}};
  return searchInterfaces(this, table, riid, ppv);
}

IFACEMETHODIMP_(ULONG) HalvaneProviderFilter::AddRef() { return static_cast<ULONG>(++refs_); }

IFACEMETHODIMP_(ULONG) HalvaneProviderFilter::Release() {
  const LONG left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

IFACEMETHODIMP HalvaneProviderFilter::Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD /*flags*/,
                                             GUID* providers, BOOL* allow, DWORD count) {
  // Whatever happens here, LogonUI gets S_OK: a failing filter would leave it without tiles.
  guarded("HalvaneProviderFilter::Filter", S_OK, [&]() -> HRESULT {
    const bool active = cpus != CPUS_CREDUI && cpus != CPUS_PLAP;
    if (!active) KV_LOG_DEBUG("%s - scenario not handled", kClass);
    if (active && remoteClientAddress().empty()) {
      std::string address;
      if (!isRemoteSignIn()) {
        address = localIpAddress();
        KV_LOG_DEBUG("%s - Local IP: %s", kClass, address.c_str());
      } else {
        // This session's own client first: the event logs may name another session's.
        address = Utils::toUtf8(identitySeam().currentSession().clientAddress);
        if (address.empty()) address = Utils::toUtf8(Utils::ConnectionUtils::getRemoteClientIpAddress());
        KV_LOG_DEBUG("%s - Remote client IP: %s", kClass, address.c_str());
      }
      setRemoteClientAddress(address);
    }
    KV_LOG_DEBUG("%s - scenario %s (%d), remote logon %u, active %d", kClass, scenarioName(cpus),
                 static_cast<int>(cpus), static_cast<unsigned>(Utils::getRemoteLogonFlag()), static_cast<int>(active));
    if (providers == nullptr || allow == nullptr) return S_OK;
    for (DWORD i = 0; i < count; ++i) {
      const CLSID& clsid = providers[i];
      const bool ours = (findByWrapper(clsid) != nullptr && !IsEqualCLSID(clsid, typeOfTag(kTagSmartCard).wrapper) &&
                         !IsEqualCLSID(clsid, typeOfTag(kTagPicturePassword).wrapper)) ||
                        IsEqualCLSID(clsid, kFamilyProvider) ||
                        (isWindowsHelloRemoteCredential_ && IsEqualCLSID(clsid, typeOfTag(kTagSmartCard).wrapper));
      if (ours) {
        if (!active) allow[i] = FALSE;
      } else if (active && !isAlwaysAllowed(clsid)) {
        allow[i] = FALSE;
      }
      KV_LOG_DEBUG("%s - %s %s", kClass, guidText(clsid).c_str(), allow[i] ? "ENABLED" : "DISABLED");
    }
    return S_OK;
  });
  return S_OK;
}

IFACEMETHODIMP HalvaneProviderFilter::UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* in,
                                                             CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* out) {
  return guarded("HalvaneProviderFilter::UpdateRemoteCredential", S_FALSE, [&]() -> HRESULT {
    if (out == nullptr) return E_POINTER;
    ZeroMemory(out, sizeof *out);
    if (in == nullptr || in->cbSerialization == 0 || in->rgbSerialization == nullptr) return S_FALSE;
    auto* copy = static_cast<byte*>(CoTaskMemAlloc(in->cbSerialization));
    if (copy == nullptr) return S_FALSE;
    CopyMemory(copy, in->rgbSerialization, in->cbSerialization);
    out->ulAuthenticationPackage = in->ulAuthenticationPackage;
    out->clsidCredentialProvider = wrapperForRemoteProvider(in->clsidCredentialProvider);
    out->cbSerialization = in->cbSerialization;
    out->rgbSerialization = copy;
    isWindowsHelloRemoteCredential_ = Utils::isWindowsHelloCertificateLogon(copy, in->cbSerialization);
    Utils::setRemoteLogonFlag(1);
    setRemoteCredential(true);
    KV_LOG_DEBUG("%s - remote credential for %s handed to %s, Windows Hello %d", kClass,
                 guidText(in->clsidCredentialProvider).c_str(), guidText(out->clsidCredentialProvider).c_str(),
                 static_cast<int>(isWindowsHelloRemoteCredential_));
    return S_OK;
  });
}

}  // namespace Provider
}  // namespace Korvath
