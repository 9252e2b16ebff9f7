#pragma once

// What the portable code needs of the machine. One implementation per flavour
// (Win32 under src/platform/win32, POSIX under src/platform/posix), chosen at build time.
// Tests replace the clock and the registry through the setters below; nothing here
// lets a caller skip a check.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Korvath {
namespace Platform {

// Values under the agent's key "SOFTWARE\Halvane\Pellora Agent" (HKLM on Windows;
// natively a small file-backed store under KORVATH_ROOT).
class IRegistry {
 public:
  virtual ~IRegistry() = default;
  virtual bool getString(const std::string& name, std::string& value) = 0;
  virtual bool setString(const std::string& name, const std::string& value) = 0;
  virtual bool deleteValue(const std::string& name) = 0;
};
IRegistry& agentRegistry();
// Replaces the agent registry (tests); nullptr restores the real one.
void setAgentRegistry(IRegistry* registry);

// A cross-process named mutex (CreateMutexW on Windows; flock on a lock file natively).
// The lock is held while the object lives and acquired() is true.
class NamedMutexLock {
 public:
  NamedMutexLock(const std::string& name, std::uint32_t timeoutMs);
  ~NamedMutexLock();
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;
  bool acquired() const { return acquired_; }

 private:
  bool acquired_ = false;
  std::intptr_t handle_ = -1;
};

// Paths. On Windows under the Windows directory (and "C:/PelloraAgentForWindows.log");
// natively under the directory named by KORVATH_ROOT, laid out the same way.
std::string windowsDirectory();
std::string configFilePath();        // <windows>/system32/drivers/etc/kvconfig.cfg
std::string configBackupFilePath();  // <windows>/system32/drivers/etc/kvconfigbkp.cfg
std::string installConfigFilePath(); // <windows>/system32/kvconfig.cfg
std::string logFilePath();

// Time. FILETIME is 100-ns units since 1601-01-01 UTC.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual std::uint64_t nowFileTime() = 0;
  virtual std::int64_t nowUnixMs() = 0;
  virtual std::int64_t monotonicMs() = 0;
  virtual void sleepMs(std::uint32_t ms) = 0;
};
IClock& clock();
// Replaces the clock (tests); nullptr restores the system clock.
void setClock(IClock* clock);

// A 32-byte secret bound to this machine: DPAPI machine scope on Windows; natively a
// key file readable only by its owner, created on first use. False when unavailable.
bool machineSecret(std::vector<std::uint8_t>& secret);

// Restrict a file holding secrets to its owner (natively 0600; on Windows SYSTEM and
// Administrators only). False when that cannot be done.
bool restrictFileToOwner(const std::string& path);

// Fills `size` bytes from the operating system's cryptographic random source
// (BCryptGenRandom on Windows, getrandom natively). False when it fails.
bool randomBytes(std::uint8_t* out, std::size_t size);

// The agent registry's key as text, for log lines.
extern const char* const kAgentRegistryKey;

}  // namespace Platform
}  // namespace Korvath
