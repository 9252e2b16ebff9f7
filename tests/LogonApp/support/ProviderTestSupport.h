#pragma once

// What the credential-provider tests share: the test machine (the stand-ins for Windows'
// providers and KvCredProv.dll registered in the Wine prefix), the stand-ins' probe, agent
// registry values, the library loaded as COM loads it, and a tile opened on a provider.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Korvath/CredentialProviderInterfaces.h"
#include "KvLogonUi/LogonUi.h"
#include "KvStandIn/StandInProbe.h"

namespace ProviderTest {

// Registers the stand-ins under Windows' provider identifiers, puts the picture-password
// stand-in into the system folder as credprovslegacy.dll, and registers bin\KvCredProv.dll
// as the installer does (installcfg's code). Idempotent.
void installTestMachine();

// The stand-ins' probe, reached through `object` (a stand-in or a wrapper of one).
std::string ask(IUnknown* object, const wchar_t* question);
HRESULT tell(IUnknown* object, const wchar_t* key, const wchar_t* value);

// The library's class identifiers and the Windows providers they wrap, in the order of their
// tags (200 to 207).
struct WrapperRow {
  const char* wrapper;
  const char* inner;
};
extern const WrapperRow kWrappers[8];
GUID guidOf(const char* text);
using KvLogonUi::guidText;

// Sets a value under HKLM\SOFTWARE\Halvane\Pellora Agent; null deletes it.
void setAgentValue(const wchar_t* name, const wchar_t* value);

// A serialization for `provider` (package 9) as a Remote Desktop client sends it, and the
// filter hands on.
CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION remote(const char* provider, std::vector<std::uint8_t>& bytes);

// UTF-16 bytes of `text`, to look for a password in a buffer.
std::vector<std::uint8_t> utf16Bytes(const std::wstring& text);

// What COM makes of a library's DllGetClassObject: the library's own classes through its class
// factories, any other class through the registry.
KvLogonUi::ObjectFactory classesOf(const KvLogonUi::ObjectFactory& getClassObject);

// KvCredProv.dll loaded by path and called through its two exports, as COM does. Every test
// leaves its references balanced: DllCanUnloadNow says S_OK and the library really unloads,
// which also forgets what a remote serialization marked.
class Library : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void load();
  void unload();

  KvLogonUi::ObjectFactory create;  // classesOf the library
  HMODULE module = nullptr;
  HRESULT(__stdcall* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(__stdcall* canUnloadNow)() = nullptr;
};

// A provider made by `create` with the usage scenario set, its credentials counted and one
// credential taken, as LogonUI does for the tile the user clicks.
class Tile {
 public:
  Tile(const KvLogonUi::ObjectFactory& create, REFCLSID clsid, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario,
       const std::function<void(ICredentialProvider*)>& beforeCount = nullptr);
  ~Tile();
  Tile(const Tile&) = delete;
  Tile& operator=(const Tile&) = delete;

  // Types the stand-in credential's user name and password fields.
  void type(const std::wstring& user, const std::wstring& password);
  // One GetSerialization as LogonUI makes it, with LogonUI's copy taken and the returned buffer
  // wiped and freed; fails the test if an out-parameter was left as LogonUI passed it.
  KvLogonUi::Submission submit();

  HRESULT hr = E_FAIL;  // of the first step that failed, else S_OK
  DWORD count = 0;
  ICredentialProvider* provider = nullptr;
  ICredentialProviderCredential* credential = nullptr;
};

}  // namespace ProviderTest
