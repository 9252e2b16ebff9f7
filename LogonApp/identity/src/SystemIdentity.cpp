// The identity seam on Windows itself: account database, LSA policy and logon sessions,
// NetUserGetInfo, the directory through ADSI, an LSA logon, the identity-store cache and the
// session disconnect. Every handle, LSA buffer, token and COM object is released on every
// path; no call throws. Under Wine most of these answer "nothing", which is what the
// helpers treat as "not found".
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <ntsecapi.h>
#include <lm.h>
#include <objbase.h>
#include <sddl.h>
#include <wtsapi32.h>
#include <iads.h>
#include <adshlp.h>
#include <adserr.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <utility>

#include "Korvath/Authentication/IdentitySeam.h"
#include "Korvath/Authentication/WindowsAuthentication.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Authentication {

namespace {

const char* const kSeam = "Korvath::Authentication::systemIdentity";
const char* const kFill = "Korvath::Authentication::WindowsAuthentication::fillUsernameDomainFromLSALogonUser";

// Not in mingw-w64's headers: the LsaLookupSids2 option that asks for a cloud account's
// internet name (user@domain) instead of its SAM-style name.
constexpr ULONG kLsaLookupPreferInternetNames = 0x40000000;
// The largest SID there is (SECURITY_MAX_SID_SIZE).
constexpr DWORD kMaxSidSize = 68;

// Runs `release` when the scope ends, whichever way it ends.
template <typename Release>
class Finally {
 public:
  explicit Finally(Release release) : release_(std::move(release)) {}
  ~Finally() { release_(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  Release release_;
};
template <typename Release>
Finally<Release> finally(Release release) {
  return Finally<Release>(std::move(release));
}

std::wstring fromLsa(const LSA_UNICODE_STRING& text) {
  if (text.Buffer == nullptr || text.Length == 0) return std::wstring();
  return std::wstring(text.Buffer, text.Length / sizeof(wchar_t));
}

// A SID given as bytes: valid and wholly inside them.
PSID asSid(const std::vector<std::uint8_t>& sid) {
  if (sid.size() < 8) return nullptr;
  PSID binary = const_cast<std::uint8_t*>(sid.data());
  return IsValidSid(binary) && GetLengthSid(binary) <= sid.size() ? binary : nullptr;
}

std::vector<std::uint8_t> sidBytes(PSID sid) {
  if (sid == nullptr || !IsValidSid(sid)) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(sid);
  return std::vector<std::uint8_t>(bytes, bytes + GetLengthSid(sid));
}

// "S-1-..." with digits and hyphens only: safe inside an LDAP filter and a registry path.
bool isSidText(const std::wstring& text) {
  if (text.size() < 5 || text.size() > 200 || text.compare(0, 4, L"S-1-") != 0) return false;
  for (std::size_t i = 4; i < text.size(); ++i) {
    if (text[i] != L'-' && (text[i] < L'0' || text[i] > L'9')) return false;
  }
  return true;
}

bool failed(NTSTATUS status) { return status < 0; }

using LsaLookupSids2Fn = NTSTATUS(NTAPI*)(LSA_HANDLE, ULONG, ULONG, PSID*, PLSA_REFERENCED_DOMAIN_LIST*,
                                          PLSA_TRANSLATED_NAME*);

// From advapi32 only: Wine's advapi32 lacks it, and the export that sechost has aborts the
// process when called there. Without it LsaLookupSids answers (without the internet name).
LsaLookupSids2Fn lsaLookupSids2() {
  static const LsaLookupSids2Fn resolved = [] {
    const HMODULE advapi32 = GetModuleHandleW(L"advapi32.dll");
    if (advapi32 == nullptr) return LsaLookupSids2Fn(nullptr);
    return reinterpret_cast<LsaLookupSids2Fn>(reinterpret_cast<void (*)()>(GetProcAddress(advapi32, "LsaLookupSids2")));
  }();
  return resolved;
}

class SystemIdentity final : public IdentitySeam {
 public:
  std::vector<std::uint8_t> lookupAccountName(const std::wstring& name) override {
    return guarded([&] { return lookupAccountNameNow(name); });
  }
  bool lookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring& name, std::wstring& domain) override {
    return guarded([&] { return lookupAccountSidNow(sid, name, domain); });
  }
  std::wstring lookupSidPreferInternetName(const std::vector<std::uint8_t>& sid) override {
    return guarded([&] { return lookupSidNow(sid); });
  }
  std::vector<LogonSessionInfo> logonSessions() override {
    return guarded([&] { return logonSessionsNow(); });
  }
  std::wstring netUserInternetPrincipalName(const std::wstring& userName) override {
    return guarded([&] { return netUserNow(userName); });
  }
  DirectoryNames queryDirectoryBySid(const std::wstring& sidText) override {
    return guarded([&] { return queryDirectoryNow(sidText); });
  }
  LsaLogonNames lsaLogon(ULONG authenticationPackage, const std::uint8_t* serialization, ULONG size, ULONG logonType,
                         bool askUpn) override {
    return guarded([&] { return lsaLogonNow(authenticationPackage, serialization, size, logonType, askUpn); });
  }
  std::wstring computerDnsDomain() override {
    return guarded([&] { return Utils::toWide(Utils::getDnsDomainName()); });
  }
  std::wstring identityCacheUserName(const std::wstring& sidText) override {
    return guarded([&] { return identityCacheNow(sidText); });
  }
  SessionInfo currentSession() override {
    return guarded([&] { return currentSessionNow(); });
  }
  void disconnectCurrentSession() override {
    if (!WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, FALSE)) {
      KV_LOG_ERROR("%s - WTSDisconnectSession error %lu", kSeam, GetLastError());
    }
  }

 private:
  // Only the standard library throws here (out of memory): that is "nothing found" too.
  template <typename Fn>
  static auto guarded(Fn&& fn) -> decltype(fn()) {
    try {
      return fn();
    } catch (const std::exception& e) {
      KV_LOG_ERROR("%s - exception - e.what(): %s", kSeam, e.what());
      return decltype(fn())();
    }
  }

  static SessionInfo currentSessionNow() {
    SessionInfo session;
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientProtocolType, &buffer,
                                     &bytes)) {
      KV_LOG_ERROR("%s - WTSQuerySessionInformation(WTSClientProtocolType) error %lu", kSeam, GetLastError());
      return session;
    }
    const auto free = finally([&] { WTSFreeMemory(buffer); });
    USHORT protocol = 0;
    if (buffer != nullptr && bytes >= sizeof protocol) std::memcpy(&protocol, buffer, sizeof protocol);
    session.remote = protocol != 0;
    if (session.remote)
      session.clientAddress = Utils::ConnectionUtils::systemRemoteAddressSource().fromSessionInformation();
    return session;
  }

  static std::vector<std::uint8_t> lookupAccountNameNow(const std::wstring& name) {
    if (name.empty()) return {};  // an empty name would give the domain's own SID
    BYTE sid[kMaxSidSize] = {};
    DWORD sidSize = kMaxSidSize;
    DWORD domainSize = 0;
    SID_NAME_USE use = SidTypeUnknown;
    if (LookupAccountNameW(nullptr, name.c_str(), sid, &sidSize, nullptr, &domainSize, &use)) return sidBytes(sid);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || domainSize == 0) return {};
    std::vector<wchar_t> domain(domainSize, L'\0');
    sidSize = kMaxSidSize;
    if (!LookupAccountNameW(nullptr, name.c_str(), sid, &sidSize, domain.data(), &domainSize, &use)) return {};
    return sidBytes(sid);
  }

  static bool lookupAccountSidNow(const std::vector<std::uint8_t>& sid, std::wstring& name, std::wstring& domain) {
    name.clear();
    domain.clear();
    const PSID binary = asSid(sid);
    if (binary == nullptr) return false;
    DWORD nameSize = 0, domainSize = 0;
    SID_NAME_USE use = SidTypeUnknown;
    LookupAccountSidW(nullptr, binary, nullptr, &nameSize, nullptr, &domainSize, &use);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || nameSize == 0) return false;
    std::vector<wchar_t> nameBuffer(nameSize + 1, L'\0'), domainBuffer(domainSize + 1, L'\0');
    if (!LookupAccountSidW(nullptr, binary, nameBuffer.data(), &nameSize, domainBuffer.data(), &domainSize, &use)) {
      return false;
    }
    name.assign(nameBuffer.data());
    domain.assign(domainBuffer.data());
    return !name.empty();
  }

  static std::wstring lookupSidNow(const std::vector<std::uint8_t>& sid) {
    PSID binary = asSid(sid);
    if (binary == nullptr) return std::wstring();
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE policy = nullptr;
    NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES, &policy);
    if (failed(status)) {
      KV_LOG_ERROR("%s - LsaOpenPolicy ntsStatus = 0x%lX", kSeam, static_cast<unsigned long>(status));
      return std::wstring();
    }
    PLSA_REFERENCED_DOMAIN_LIST domains = nullptr;
    PLSA_TRANSLATED_NAME names = nullptr;
    const auto release = finally([&] {
      if (names != nullptr) LsaFreeMemory(names);
      if (domains != nullptr) LsaFreeMemory(domains);
      LsaClose(policy);
    });
    if (const LsaLookupSids2Fn lookup2 = lsaLookupSids2()) {
      status = lookup2(policy, kLsaLookupPreferInternetNames, 1, &binary, &domains, &names);
    } else {
      status = LsaLookupSids(policy, 1, &binary, &domains, &names);
    }
    if (failed(status) || names == nullptr) return std::wstring();
    if (names[0].Use == SidTypeInvalid || names[0].Use == SidTypeUnknown) return std::wstring();
    return fromLsa(names[0].Name);
  }

  static std::vector<LogonSessionInfo> logonSessionsNow() {
    std::vector<LogonSessionInfo> sessions;
    ULONG count = 0;
    PLUID list = nullptr;
    const NTSTATUS status = LsaEnumerateLogonSessions(&count, &list);
    const auto releaseList = finally([&] {
      if (list != nullptr) LsaFreeReturnBuffer(list);
    });
    if (failed(status) || list == nullptr) return sessions;
    for (ULONG i = 0; i < count; ++i) {
      PSECURITY_LOGON_SESSION_DATA data = nullptr;
      const NTSTATUS read = LsaGetLogonSessionData(&list[i], &data);
      const auto releaseData = finally([&] {
        if (data != nullptr) LsaFreeReturnBuffer(data);
      });
      if (failed(read) || data == nullptr) continue;
      LogonSessionInfo session;
      session.sid = sidBytes(data->Sid);
      session.userName = fromLsa(data->UserName);
      session.logonDomain = fromLsa(data->LogonDomain);
      // A record too short to hold the UPN has none.
      if (data->Size >= offsetof(SECURITY_LOGON_SESSION_DATA, Upn) + sizeof(data->Upn))
        session.upn = fromLsa(data->Upn);
      sessions.push_back(std::move(session));
    }
    return sessions;
  }

  static std::wstring netUserNow(const std::wstring& userName) {
    if (userName.empty()) return std::wstring();
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = NetUserGetInfo(nullptr, userName.c_str(), 24, &buffer);
    const auto release = finally([&] {
      if (buffer != nullptr) NetApiBufferFree(buffer);
    });
    if (status != NERR_Success || buffer == nullptr) return std::wstring();
    const auto* info = reinterpret_cast<const USER_INFO_24*>(buffer);
    return info->usri24_internet_principal_name != nullptr ? std::wstring(info->usri24_internet_principal_name)
                                                           : std::wstring();
  }

  static DirectoryNames queryDirectoryNow(const std::wstring& sidText) {
    DirectoryNames result;
    if (!isSidText(sidText)) {
      result.result = E_INVALIDARG;
      return result;
    }
    // LogonUI's thread is usually in an apartment already; a different one still lets us call.
    const HRESULT init = CoInitialize(nullptr);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
      result.result = E_UNEXPECTED;
      return result;
    }
    const auto uninit = finally([&] {
      if (SUCCEEDED(init)) CoUninitialize();
    });
    std::wstring namingContext;
    result.result = defaultNamingContext(namingContext);
    if (FAILED(result.result)) {
      KV_LOG_ERROR("%s - rootDSE hr = 0x%08lX", kSeam, static_cast<unsigned long>(result.result));
      return result;
    }
    IDirectorySearch* search = nullptr;
    const std::wstring path = L"LDAP://" + namingContext;
    result.result = ADsOpenObject(path.c_str(), nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                                  reinterpret_cast<void**>(&search));
    if (FAILED(result.result) || search == nullptr) return result;
    const auto releaseSearch = finally([&] { search->Release(); });

    wchar_t filter[520];
    const std::wstring condition = L"(objectSid=" + sidText + L")";
    if (std::swprintf(filter, 520, L"(&(objectClass=user)(objectCategory=person)%ls)", condition.c_str()) < 0) {
      result.result = E_INVALIDARG;
      return result;
    }
    wchar_t objectSid[] = L"objectSid", upnName[] = L"userPrincipalName", samName[] = L"samAccountName";
    LPWSTR attributes[] = {objectSid, upnName, samName};
    ADS_SEARCH_HANDLE handle = nullptr;
    result.result = search->ExecuteSearch(filter, attributes, 3, &handle);
    if (FAILED(result.result)) return result;
    const auto closeSearch = finally([&] { search->CloseSearchHandle(handle); });
    for (HRESULT row = search->GetFirstRow(handle); row == S_OK; row = search->GetNextRow(handle)) {
      std::wstring rowSid, rowUpn, rowSam;
      LPWSTR column = nullptr;
      while (search->GetNextColumnName(handle, &column) == S_OK && column != nullptr) {
        readColumn(search, handle, column, rowSid, rowUpn, rowSam);
        FreeADsMem(column);
        column = nullptr;
      }
      if (column != nullptr) FreeADsMem(column);
      if (rowSid == sidText) {
        result.userPrincipalName = rowUpn;
        result.samAccountName = rowSam;
        break;
      }
    }
    return result;
  }

  static HRESULT defaultNamingContext(std::wstring& namingContext) {
    IADs* root = nullptr;
    HRESULT hr = ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs,
                               reinterpret_cast<void**>(&root));
    if (FAILED(hr) || root == nullptr) return FAILED(hr) ? hr : E_FAIL;
    const auto releaseRoot = finally([&] { root->Release(); });
    BSTR property = SysAllocString(L"defaultNamingContext");
    if (property == nullptr) return E_OUTOFMEMORY;
    VARIANT value;
    VariantInit(&value);
    hr = root->Get(property, &value);
    SysFreeString(property);
    if (SUCCEEDED(hr) && value.vt == VT_BSTR && value.bstrVal != nullptr)
      namingContext = value.bstrVal;
    else if (SUCCEEDED(hr))
      hr = E_UNEXPECTED;
    VariantClear(&value);
    return hr;
  }

  static void readColumn(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, LPWSTR name, std::wstring& sid,
                         std::wstring& upn, std::wstring& sam) {
    ADS_SEARCH_COLUMN column;
    if (FAILED(search->GetColumn(handle, name, &column))) return;
    const auto release = finally([&] { search->FreeColumn(&column); });
    if (column.dwNumValues == 0 || column.pADsValues == nullptr) return;
    const ADSVALUE& value = column.pADsValues[0];
    if (_wcsicmp(name, L"objectSid") == 0) {
      if (column.dwADsType != ADSTYPE_OCTET_STRING || value.OctetString.lpValue == nullptr) return;
      const std::uint8_t* bytes = value.OctetString.lpValue;
      sid = WindowsAuthentication::sidToText(std::vector<std::uint8_t>(bytes, bytes + value.OctetString.dwLength));
      return;
    }
    const bool text = column.dwADsType == ADSTYPE_DN_STRING || column.dwADsType == ADSTYPE_CASE_EXACT_STRING ||
                      column.dwADsType == ADSTYPE_CASE_IGNORE_STRING || column.dwADsType == ADSTYPE_PRINTABLE_STRING ||
                      column.dwADsType == ADSTYPE_NUMERIC_STRING;
    if (!text || value.CaseIgnoreString == nullptr) return;
    if (_wcsicmp(name, L"userPrincipalName") == 0)
      upn = value.CaseIgnoreString;
    else if (_wcsicmp(name, L"samAccountName") == 0)
      sam = value.CaseIgnoreString;
  }

  static LsaLogonNames lsaLogonNow(ULONG authenticationPackage, const std::uint8_t* serialization, ULONG size,
                                   ULONG logonType, bool askUpn) {
    LsaLogonNames names;
    if (serialization == nullptr || size == 0) return names;
    HANDLE lsa = nullptr;
    NTSTATUS status = LsaConnectUntrusted(&lsa);
    if (failed(status)) {
      KV_LOG_ERROR("%s - LsaConnectUntrusted ntsStatus = 0x%lX", kFill, static_cast<unsigned long>(status));
      return names;
    }
    const auto deregister = finally([&] { LsaDeregisterLogonProcess(lsa); });

    char originName[] = "Pellora";
    LSA_STRING origin;
    origin.Buffer = originName;
    origin.Length = static_cast<USHORT>(std::strlen(originName));
    origin.MaximumLength = static_cast<USHORT>(origin.Length + 1);
    TOKEN_SOURCE source = {};
    static_assert(sizeof source.SourceName == sizeof "Drevask", "the source name fills the field with its NUL");
    std::memcpy(source.SourceName, "Drevask", sizeof source.SourceName);
    if (!AllocateLocallyUniqueId(&source.SourceIdentifier)) {
      KV_LOG_ERROR("%s - AllocateLocallyUniqueId error %lu", kFill, GetLastError());
      return names;
    }
    PVOID profile = nullptr;
    ULONG profileSize = 0;
    LUID logonId = {};
    HANDLE token = nullptr;
    QUOTA_LIMITS quotas = {};
    NTSTATUS subStatus = 0;
    // The LSA only reads the logon message; its interface just is not const.
    status = LsaLogonUser(lsa, &origin, static_cast<SECURITY_LOGON_TYPE>(logonType), authenticationPackage,
                          const_cast<std::uint8_t*>(serialization), size, nullptr, &source, &profile, &profileSize,
                          &logonId, &token, &quotas, &subStatus);
    const auto release = finally([&] {
      if (profile != nullptr) LsaFreeReturnBuffer(profile);
      if (token != nullptr) CloseHandle(token);
    });
    if (failed(status)) {
      KV_LOG_ERROR("%s - LsaLogonUser ntsStatus = 0x%lX", kFill, static_cast<unsigned long>(status));
      KV_LOG_ERROR("%s - LsaLogonUser ntsSubStatus = 0x%lX", kFill, static_cast<unsigned long>(subStatus));
      return names;
    }
    if (token == nullptr) {
      KV_LOG_ERROR("%s - usert token is NULL", kFill);
      return names;
    }
    names.loggedOn = true;
    const std::vector<std::uint8_t> user = tokenUserSid(token);
    lookupAccountSidNow(user, names.userName, names.domain);
    if (askUpn && !Utils::isLocalDomain(Utils::toUtf8(names.domain))) names.upn = upnAs(token);
    return names;
  }

  static std::vector<std::uint8_t> tokenUserSid(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER)) return {};
    std::vector<std::uint8_t> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
    return sidBytes(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
  }

  // The user principal name as the token's user sees it.
  static std::wstring upnAs(HANDLE token) {
    if (!ImpersonateLoggedOnUser(token)) {
      KV_LOG_ERROR("%s - ImpersonateLoggedOnUser error %lu", kFill, GetLastError());
      return std::wstring();
    }
    std::wstring upn;
    {
      const auto revert = finally([] {
        if (!RevertToSelf()) KV_LOG_ERROR("%s - RevertToSelf error %lu", kFill, GetLastError());
      });
      wchar_t buffer[1024] = {};
      ULONG length = 1024;
      if (GetUserNameExW(NameUserPrincipal, buffer, &length))
        upn.assign(buffer, wcsnlen(buffer, 1024));
      else
        KV_LOG_ERROR("%s - GetUserNameExW error %lu", kFill, GetLastError());
    }
    return upn;
  }

  static std::wstring identityCacheNow(const std::wstring& sidText) {
    if (!isSidText(sidText)) return std::wstring();
    const std::wstring path = L"SOFTWARE\\Microsoft\\IdentityStore\\Cache\\S-1-5-18\\IdentityCache\\" + sidText;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::wstring();
    const auto close = finally([&] { RegCloseKey(key); });
    wchar_t buffer[513] = {};  // 1024 bytes and a terminator of our own
    DWORD type = 0;
    DWORD bytes = 1024;
    if (RegQueryValueExW(key, L"UserName", nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return std::wstring();
    }
    return std::wstring(buffer, wcsnlen(buffer, bytes / sizeof(wchar_t)));
  }
};

}  // namespace

IdentitySeam& systemIdentity() {
  static SystemIdentity identity;
  return identity;
}

}  // namespace Authentication
}  // namespace Korvath
