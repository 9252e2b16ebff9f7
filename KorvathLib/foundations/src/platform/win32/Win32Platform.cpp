// Windows flavour of the platform layer.
#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <wincrypt.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../PlatformDetail.h"
#include "Korvath/Platform.h"
#include "Korvath/Utils.h"

namespace Korvath {
namespace Platform {

namespace {

const wchar_t* const kAgentKeyW = L"SOFTWARE\\Halvane\\Pellora Agent";

class Win32Registry : public IRegistry {
 public:
  bool getString(const std::string& name, std::string& value) override {
    const std::wstring wname = Utils::toWide(name);
    DWORD bytes = 0;
    LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, kAgentKeyW, wname.c_str(),
                                  RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, nullptr, &bytes);
    if (status != ERROR_SUCCESS) {
      return false;
    }
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    status = RegGetValueW(HKEY_LOCAL_MACHINE, kAgentKeyW, wname.c_str(),
                          RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, &buffer[0], &bytes);
    if (status != ERROR_SUCCESS) {
      return false;
    }
    buffer.resize(wcsnlen(buffer.c_str(), bytes / sizeof(wchar_t)));
    value = Utils::toUtf8(buffer);
    return true;
  }

  bool setString(const std::string& name, const std::string& value) override {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentKeyW, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::wstring wname = Utils::toWide(name);
    const std::wstring wvalue = Utils::toWide(value);
    const LSTATUS status =
        RegSetValueExW(key, wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wvalue.c_str()),
                       static_cast<DWORD>((wvalue.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }

  bool deleteValue(const std::string& name) override {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentKeyW, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
      return false;
    }
    const std::wstring wname = Utils::toWide(name);
    const LSTATUS status = RegDeleteValueW(key, wname.c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }
};

class SystemClock : public IClock {
 public:
  std::uint64_t nowFileTime() override {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  }
  std::int64_t nowUnixMs() override {
    return static_cast<std::int64_t>(nowFileTime() / 10000ULL) - detail::kFileTimeEpochOffsetMs;
  }
  std::int64_t monotonicMs() override { return static_cast<std::int64_t>(GetTickCount64()); }
  void sleepMs(std::uint32_t ms) override { Sleep(ms); }
};

bool readFileBytes(const std::wstring& path, std::vector<std::uint8_t>& out) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (1 << 20);
  if (ok) {
    out.assign(static_cast<std::size_t>(size.QuadPart), 0);
    DWORD read = 0;
    ok = out.empty() || (ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &read, nullptr) &&
                         read == out.size());
  }
  CloseHandle(file);
  return ok;
}

// Full access for LocalSystem and Administrators only, not inherited from the folder.
const wchar_t* const kOwnerOnlySddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Writes a file that only LocalSystem and Administrators may open. The descriptor is
// given when the file is created (and kept by the rename), so there is no moment in
// which the folder's wider access applies to the secret.
bool writeOwnerOnlyFileAtomic(const std::wstring& path, const std::vector<std::uint8_t>& data) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kOwnerOnlySddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  const std::wstring temp = path + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(descriptor);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
            written == data.size() && FlushFileBuffers(file);
  CloseHandle(file);
  ok = ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    DeleteFileW(temp.c_str());
  }
  return ok;
}

}  // namespace

namespace detail {
IRegistry& systemRegistry() {
  static Win32Registry registry;
  return registry;
}
IClock& systemClock() {
  static SystemClock c;
  return c;
}
}  // namespace detail

NamedMutexLock::NamedMutexLock(const std::string& name, std::uint32_t timeoutMs) {
  const std::wstring wname = Utils::toWide(name);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, wname.c_str());
  if (mutex == nullptr) {
    return;
  }
  const DWORD wait = WaitForSingleObject(mutex, timeoutMs);
  // An abandoned mutex is owned by us now; its previous owner died holding it.
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
    acquired_ = true;
    return;
  }
  CloseHandle(mutex);
}

NamedMutexLock::~NamedMutexLock() {
  if (acquired_) {
    HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

std::string windowsDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n > MAX_PATH) {
    return std::string();
  }
  return Utils::toUtf8(std::wstring(buffer, n));
}

std::string logFilePath() { return "C:/PelloraAgentForWindows.log"; }

bool randomBytes(std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    const ULONG chunk = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
    if (BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
      return false;
    }
    out += chunk;
    size -= chunk;
  }
  return true;
}

bool restrictFileToOwner(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kOwnerOnlySddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  // SetFileSecurityW rather than SetNamedSecurityInfoW: Wine ignores the latter for files and
  // even leaves them readable by everyone; Windows honours both.
  const std::wstring wpath = Utils::toWide(path);
  const bool ok =
      SetFileSecurityW(wpath.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor) != 0;
  LocalFree(descriptor);
  return ok;
}

// The secret is kept as a DPAPI blob in machine scope: only this machine can unprotect it.
bool machineSecret(std::vector<std::uint8_t>& secret) {
  static std::mutex cacheMutex;
  static std::vector<std::uint8_t> cache;
  std::lock_guard<std::mutex> guard(cacheMutex);
  if (!cache.empty()) {
    secret = cache;
    return true;
  }
  const std::string dir = windowsDirectory();
  if (dir.empty()) {
    return false;
  }
  const std::wstring path = Utils::toWide(dir + "/system32/drivers/etc/kvmachine.key");
  const auto unprotect = [&](const std::vector<std::uint8_t>& blob) {
    DATA_BLOB in{static_cast<DWORD>(blob.size()), const_cast<BYTE*>(blob.data())};
    DATA_BLOB out{0, nullptr};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out)) {
      return false;
    }
    const bool right = out.cbData == detail::kMachineSecretSize;
    if (right) {
      cache.assign(out.pbData, out.pbData + out.cbData);
    }
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return right;
  };
  std::vector<std::uint8_t> blob;
  if (readFileBytes(path, blob)) {
    if (!unprotect(blob)) {
      return false;
    }
    secret = cache;
    return true;
  }
  NamedMutexLock lock(detail::kMachineSecretMutex, 10000);
  if (!lock.acquired()) {
    return false;
  }
  if (readFileBytes(path, blob)) {  // another process made it while we waited
    if (!unprotect(blob)) {
      return false;
    }
    secret = cache;
    return true;
  }
  std::vector<std::uint8_t> fresh(detail::kMachineSecretSize);
  if (!randomBytes(fresh.data(), fresh.size())) {
    return false;
  }
  DATA_BLOB in{static_cast<DWORD>(fresh.size()), fresh.data()};
  DATA_BLOB out{0, nullptr};
  if (!CryptProtectData(&in, L"Pellora Agent", nullptr, nullptr, nullptr,
                        CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    SecureZeroMemory(fresh.data(), fresh.size());
    return false;
  }
  blob.assign(out.pbData, out.pbData + out.cbData);
  LocalFree(out.pbData);
  if (!writeOwnerOnlyFileAtomic(path, blob)) {
    SecureZeroMemory(fresh.data(), fresh.size());
    return false;
  }
  cache = fresh;
  SecureZeroMemory(fresh.data(), fresh.size());
  secret = cache;
  return true;
}

}  // namespace Platform
}  // namespace Korvath
