#include "KvStandIn/Install.h"

#include <windows.h>

#include "KvStandIn/StandInProbe.h"

namespace KvStandIn {

namespace {

const wchar_t* const kProvidersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\";

bool setString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

std::string installStandIns(const std::wstring& directory) {
  const std::wstring dll = directory + L"\\KvStandInProviders.dll";
  // The picture-password provider is not among them: Windows makes it through its
  // library's class factory, never through the registry.
  const struct {
    const CLSID* clsid;
    const wchar_t* name;
  } providers[] = {{&kPasswordProvider, L"password"},   {&kPinProvider, L"PIN"},
                   {&kFingerprintProvider, L"fingerprint"}, {&kFaceProvider, L"face"},
                   {&kMicrosoftAccountProvider, L"Microsoft account"}, {&kFidoProvider, L"FIDO security key"},
                   {&kSmartCardProvider, L"smart card"}};
  for (const auto& provider : providers) {
    wchar_t id[40] = {};
    StringFromGUID2(*provider.clsid, id, 40);
    const std::wstring classKey = std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + id;
    const std::wstring name = std::wstring(provider.name) + L" stand-in";
    if (!setString(classKey, nullptr, name) || !setString(classKey + L"\\InprocServer32", nullptr, dll) ||
        !setString(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") ||
        !setString(kProvidersKey + std::wstring(id), nullptr, name))
      return "cannot register the stand-in for " + std::string(provider.name, provider.name + wcslen(provider.name));
  }
  wchar_t system[MAX_PATH] = {};
  if (GetSystemDirectoryW(system, MAX_PATH) == 0) return "no system folder";
  const std::wstring legacy = std::wstring(system) + L"\\credprovslegacy.dll";
  // A copy this process has loaded already stays as it is.
  if (GetModuleHandleW(legacy.c_str()) == nullptr &&
      !CopyFileW((directory + L"\\credprovslegacy.dll").c_str(), legacy.c_str(), FALSE))
    return "cannot copy credprovslegacy.dll into the system folder (error " + std::to_string(GetLastError()) + ")";
  return std::string();
}

}  // namespace KvStandIn
