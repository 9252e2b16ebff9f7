#pragma once

// What the credential-provider tests share: the test machine (the stand-ins for Windows'
// providers and KvCredProv.dll registered in the Wine prefix), the stand-ins' probe, agent
// registry values, and a tile opened directly on a provider.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Korvath/CredentialProviderInterfaces.h"
#include "KvLogonUi/LogonUi.h"
#include "KvStandIn/StandInProbe.h"

namespace ProviderTest {

// The folder of the test executables, the DLLs and the tools.
std::wstring binDirectory();

// Registers the stand-ins under Windows' provider identifiers (class and Credential
// Providers entries) and puts the picture-password stand-in into the system folder as
// credprovslegacy.dll. Idempotent.
void installStandIns();
// Registers bin\KvCredProv.dll as the installer does (installcfg's code).
void registerKvCredProv();

// The stand-ins' probe, reached through `object` (a wrapper passes it on to its inner object).
std::string ask(IUnknown* object, const wchar_t* question);
HRESULT tell(IUnknown* object, const wchar_t* key, const wchar_t* value);

// The library's class identifiers, their tags and the Windows providers they wrap.
struct WrapperRow {
  const char* wrapper;
  std::uint32_t tag;
  const char* inner;
  const char* kind;  // as the stand-in names itself
};
extern const WrapperRow kWrappers[8];
GUID guidOf(const char* text);
std::string text(REFGUID guid);

// HKLM\SOFTWARE\Halvane\Pellora Agent values.
void setAgentValue(const wchar_t* name, const wchar_t* value);
void deleteAgentValue(const wchar_t* name);
// A string value under HKLM; `found` says whether it exists.
std::wstring hklmString(const std::wstring& key, const wchar_t* name, bool* found = nullptr);
bool hklmKeyExists(const std::wstring& key);

// The plain messages of the sealed log at `path`, opened with this machine's log key as the
// project's tools open it.
std::vector<std::string> sealedLogMessages(const std::string& path);

// Runs a command line and returns its exit code and everything it printed.
int runCommand(const std::wstring& commandLine, std::string& output);

// Plays the person at the MFA dialog of a sign-in that runs on another thread or process of
// this desktop: waits (up to timeoutMs) for the "MFA_Dialog" window and presses its Back
// button, which refuses the sign-in. The destructor waits for it; dialogSeen() tells whether
// a dialog came.
class DialogRefuser {
 public:
  explicit DialogRefuser(DWORD timeoutMs = 60000);
  ~DialogRefuser();
  DialogRefuser(const DialogRefuser&) = delete;
  DialogRefuser& operator=(const DialogRefuser&) = delete;
  bool dialogSeen();

 private:
  HANDLE thread_ = nullptr;
  DWORD timeoutMs_;
  volatile LONG seen_ = 0;
  static DWORD WINAPI run(LPVOID self);
};
// UTF-16 bytes of `text`, to look for a password in a buffer.
std::vector<std::uint8_t> utf16Bytes(const std::wstring& text);
bool contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle);

// A provider made by `create` with the usage scenario set, its credentials counted and one
// credential taken, as LogonUI does for the tile the user clicks.
class Tile {
 public:
  Tile(const KvLogonUi::ObjectFactory& create, REFCLSID clsid, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario,
       const std::function<void(ICredentialProvider*)>& beforeCount = nullptr, DWORD index = 0);
  ~Tile();
  Tile(const Tile&) = delete;
  Tile& operator=(const Tile&) = delete;

  // Types the stand-in credential's user name and password fields.
  void type(const std::wstring& user, const std::wstring& password);
  // One GetSerialization, with LogonUI's copy taken and the returned buffer wiped and freed.
  KvLogonUi::Submission submit();

  HRESULT hr = E_FAIL;  // of the first step that failed, else S_OK
  DWORD count = 0;
  ICredentialProvider* provider = nullptr;
  ICredentialProviderCredential* credential = nullptr;
};

}  // namespace ProviderTest
