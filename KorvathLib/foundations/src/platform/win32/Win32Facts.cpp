#include <windows.h>

#include <cwchar>
#include <string>

#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Utils {

namespace {

bool readCurrentVersion(const wchar_t* name, std::wstring& value) {
  wchar_t buffer[256] = {};
  DWORD bytes = sizeof buffer - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", name,
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
    return false;
  }
  value.assign(buffer, wcsnlen(buffer, sizeof buffer / sizeof buffer[0]));
  return true;
}

}  // namespace

std::string getComputerName() {
  wchar_t buffer[128] = {};
  DWORD size = 128;
  if (!GetComputerNameW(buffer, &size)) return std::string();
  return toUtf8(std::wstring(buffer, size));
}

std::string getDnsDomainName() {
  DWORD size = 0;
  GetComputerNameExW(ComputerNameDnsDomain, nullptr, &size);
  if (size == 0) return std::string();
  std::wstring buffer(size, L'\0');
  if (!GetComputerNameExW(ComputerNameDnsDomain, &buffer[0], &size)) return std::string();
  buffer.resize(size);
  return toUtf8(buffer);
}

std::string getWindowsVersionName() {
  std::wstring product, build;
  if (!readCurrentVersion(L"ProductName", product)) return std::string();
  std::uint32_t buildNumber = 0;
  if (readCurrentVersion(L"CurrentBuildNumber", build) || readCurrentVersion(L"CurrentBuild", build)) {
    buildNumber = static_cast<std::uint32_t>(std::wcstoul(build.c_str(), nullptr, 10));
  }
  return windowsVersionName(toUtf8(product), buildNumber);
}

std::uint16_t getSystemPrimaryLanguageId() {
  return static_cast<std::uint16_t>(PRIMARYLANGID(GetSystemDefaultLangID()));
}

}  // namespace Utils
}  // namespace Korvath
