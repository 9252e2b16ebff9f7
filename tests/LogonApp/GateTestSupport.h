#pragma once

// What the tests of the library linked with the scripted dialog share: a clock they move,
// an identity seam that records what the gate asks of the system, a COM allocation spy that
// sees every freed block, and the factory that makes the library's objects in this process.

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Korvath/Authentication/IdentitySeam.h"
#include "Korvath/Platform.h"
#include "KvLogonUi/LogonUi.h"

namespace GateTest {

class MovableClock : public Korvath::Platform::IClock {
 public:
  std::uint64_t nowFileTime() override { return 133000000000000000ull + static_cast<std::uint64_t>(ms_) * 10000; }
  std::int64_t nowUnixMs() override { return 1700000000000 + ms_; }
  std::int64_t monotonicMs() override { return ms_; }
  void sleepMs(std::uint32_t ms) override { ms_ += ms; }
  void advance(std::int64_t ms) { ms_ += ms; }

 private:
  std::int64_t ms_ = 1000000;
};

// Answers like a machine without a directory, and records the disconnects asked for.
class RecordingSeam : public Korvath::Authentication::IdentitySeam {
 public:
  std::vector<std::uint8_t> lookupAccountName(const std::wstring&) override { return {}; }
  bool lookupAccountSid(const std::vector<std::uint8_t>&, std::wstring&, std::wstring&) override { return false; }
  std::wstring lookupSidPreferInternetName(const std::vector<std::uint8_t>&) override { return {}; }
  std::vector<Korvath::Authentication::LogonSessionInfo> logonSessions() override { return {}; }
  std::wstring netUserInternetPrincipalName(const std::wstring&) override { return {}; }
  Korvath::Authentication::DirectoryNames queryDirectoryBySid(const std::wstring&) override { return {}; }
  Korvath::Authentication::LsaLogonNames lsaLogon(ULONG, const std::uint8_t*, ULONG, ULONG, bool) override { return {}; }
  std::wstring computerDnsDomain() override { return {}; }
  std::wstring identityCacheUserName(const std::wstring&) override { return {}; }
  void disconnectCurrentSession() override { ++disconnects; }
  int disconnects = 0;
};

// Sees every block COM's task allocator frees: how many still held `secret`, and how many
// of a given size were all zeros.
class FreeSpy : public IMallocSpy {
 public:
  void watch(const std::vector<std::uint8_t>& secret);
  int freedHoldingSecret() const;
  int zeroedFreesOfSize(std::size_t size) const;

  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
  IFACEMETHODIMP_(ULONG) Release() override { return 1; }
  IFACEMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cb) override;
  IFACEMETHODIMP_(void*) PostAlloc(void* p) override;
  IFACEMETHODIMP_(void*) PreFree(void* p, BOOL spyed) override;
  IFACEMETHODIMP_(void) PostFree(BOOL) override {}
  IFACEMETHODIMP_(SIZE_T) PreRealloc(void* p, SIZE_T cb, void** out, BOOL) override;
  IFACEMETHODIMP_(void*) PostRealloc(void* p, BOOL) override;
  IFACEMETHODIMP_(void*) PreGetSize(void* p, BOOL) override { return p; }
  IFACEMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cb, BOOL) override { return cb; }
  IFACEMETHODIMP_(void*) PreDidAlloc(void* p, BOOL) override { return p; }
  IFACEMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  IFACEMETHODIMP_(void) PreHeapMinimize() override {}
  IFACEMETHODIMP_(void) PostHeapMinimize() override {}

 private:
  mutable std::mutex mutex_;
  std::map<void*, SIZE_T> sizes_;
  SIZE_T pending_ = 0;
  std::vector<std::uint8_t> secret_;
  int holdingSecret_ = 0;
  std::map<SIZE_T, int> zeroed_;
};

// Makes the library's own classes in this process (through its class factories) and any
// other class through COM.
HRESULT createObject(REFCLSID clsid, REFIID iid, void** out);

}  // namespace GateTest
