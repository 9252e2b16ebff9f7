#include "Registration.h"

#include <string>

#include <objbase.h>

#include "CredentialTypes.h"

namespace Korvath {
namespace Install {

namespace {

using Provider::CredentialType;

const wchar_t* const kClassesKey = L"SOFTWARE\\Classes\\CLSID\\";
const wchar_t* const kProvidersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\";
const wchar_t* const kFiltersKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Provider Filters\\";
const wchar_t* const kReplacedKey = L"SOFTWARE\\Halvane\\Pellora Agent\\Replaced Classes\\";
const wchar_t* const kProductName = L"Pellora Agent for Windows";

std::wstring text(REFGUID guid) {
  wchar_t out[40] = {};
  StringFromGUID2(guid, out, 40);
  return out;
}

std::wstring wide(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }

std::wstring className(const CredentialType& type) { return std::wstring(kProductName) + L" " + wide(type.kind) + L" provider"; }

std::string failure(const std::wstring& what, LSTATUS status) {
  return "cannot write " + std::string(what.begin(), what.end()) + " (error " + std::to_string(status) + ")";
}

LSTATUS setString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool getString(const std::wstring& key, const wchar_t* name, std::wstring& value) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                   buffer, &size) != ERROR_SUCCESS)
    return false;
  value = buffer;
  return true;
}

bool keyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

void deleteTree(const std::wstring& key) { RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()); }

// Keeps a class registration of another server before it is overwritten (once: a second
// registration must not save our own values over the original ones).
void keepReplaced(const CredentialType& type, const std::wstring& dllPath) {
  const std::wstring id = text(type.wrapper);
  const std::wstring classKey = kClassesKey + id;
  std::wstring server;
  if (!getString(classKey + L"\\InprocServer32", nullptr, server) || lstrcmpiW(server.c_str(), dllPath.c_str()) == 0)
    return;
  const std::wstring saved = kReplacedKey + id;
  if (keyExists(saved)) return;
  std::wstring value;
  setString(saved, L"InprocServer32", server);
  if (getString(classKey + L"\\InprocServer32", L"ThreadingModel", value)) setString(saved, L"ThreadingModel", value);
  if (getString(classKey, nullptr, value)) setString(saved, L"Name", value);
  if (keyExists(kProvidersKey + id)) {
    setString(saved, L"ProviderEntry", getString(kProvidersKey + id, nullptr, value) ? value : L"");
  }
}

void restoreReplaced(const std::wstring& id) {
  const std::wstring saved = kReplacedKey + id;
  const std::wstring classKey = kClassesKey + id;
  std::wstring value;
  if (getString(saved, L"Name", value)) setString(classKey, nullptr, value);
  if (getString(saved, L"InprocServer32", value)) setString(classKey + L"\\InprocServer32", nullptr, value);
  if (getString(saved, L"ThreadingModel", value)) setString(classKey + L"\\InprocServer32", L"ThreadingModel", value);
  if (getString(saved, L"ProviderEntry", value)) setString(kProvidersKey + id, nullptr, value);
  deleteTree(saved);
}

}  // namespace

const CLSID& filterRegistrationClsid() { return Provider::typeOfTag(Provider::kTagPassword).wrapper; }

std::string registerCredentialProvider(const std::wstring& dllPath) {
  if (dllPath.empty()) return "no DLL path";
  for (int i = 0; i < Provider::kCredentialTypeCount; ++i) {
    const CredentialType& type = Provider::credentialTypes()[i];
    keepReplaced(type, dllPath);
    const std::wstring id = text(type.wrapper);
    const std::wstring classKey = kClassesKey + id;
    LSTATUS status = setString(classKey, nullptr, className(type));
    if (status == ERROR_SUCCESS) status = setString(classKey + L"\\InprocServer32", nullptr, dllPath);
    if (status == ERROR_SUCCESS) status = setString(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    if (status != ERROR_SUCCESS) return failure(classKey, status);
    status = setString(kProvidersKey + id, nullptr, className(type));
    if (status != ERROR_SUCCESS) return failure(kProvidersKey + id, status);
  }
  const std::wstring filterKey = kFiltersKey + text(filterRegistrationClsid());
  const LSTATUS status = setString(filterKey, nullptr, std::wstring(kProductName) + L" filter");
  if (status != ERROR_SUCCESS) return failure(filterKey, status);
  return std::string();
}

std::string unregisterCredentialProvider() {
  deleteTree(kFiltersKey + text(filterRegistrationClsid()));
  for (int i = 0; i < Provider::kCredentialTypeCount; ++i) {
    const std::wstring id = text(Provider::credentialTypes()[i].wrapper);
    deleteTree(kProvidersKey + id);
    deleteTree(kClassesKey + id);
    if (keyExists(kReplacedKey + id)) restoreReplaced(id);
  }
  return std::string();
}

}  // namespace Install
}  // namespace Korvath
