#pragma once

// Test tool: a stand-in for Windows' LogonUI. It reads the registered credential providers
// and filters as LogonUI does, creates them through COM, filters them, hands them a remote
// serialization, the usage scenario and a user array, takes the chosen provider's tile,
// types a user name and a password into its fields, submits it and reports the logon
// result, then releases everything. Every step is reported as one line of text; the
// serialization's bytes are kept for in-process callers but never printed.
//
// One LogonUi object may run many sign-ins in one process (a "morning" of sign-ins).
// signIn() runs on the calling thread, which must have entered a single-threaded COM
// apartment, and blocks in GetSerialization while a gate shows its dialog: a test that
// drives the dialog does so from a thread of its own.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Korvath/CredentialProviderInterfaces.h"

namespace KvLogonUi {

// One user LogonUI shows (an entry of the user array).
struct UserEntry {
  std::wstring sid;
  std::wstring userName;
  std::wstring qualifiedUserName;
  GUID providerId = Identity_LocalUserProvider;
};

// What a Remote Desktop client sent.
struct RemoteCredential {
  GUID provider = GUID_NULL;
  ULONG package = 0;
  std::vector<std::uint8_t> bytes;
};

struct SignIn {
  CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario = CPUS_LOGON;
  DWORD scenarioFlags = 0;
  GUID tile = GUID_NULL;  // the provider whose credential is used
  DWORD credentialIndex = 0;
  bool typeFields = true;  // type user and password into the tile's first edit and password fields
  std::wstring user;
  std::wstring password;
  bool hasRemote = false;
  RemoteCredential remote;
  std::vector<UserEntry> users;  // the user array; empty: none is set
  int submissions = 1;
  DWORD submitDelayMs = 0;
  bool reportResult = true;  // ReportResult after a returned credential, as LogonUI does after LSA
  NTSTATUS reportStatus = 0;
  NTSTATUS reportSubStatus = 0;
};

struct Submission {
  HRESULT hr = E_FAIL;
  int response = -1;
  ULONG package = 0;
  GUID provider = GUID_NULL;
  std::vector<std::uint8_t> bytes;
  std::wstring statusText;
  std::string innerProduced;  // hex of what the inner stand-in credential produced, when reachable
};

struct FilterVerdict {
  GUID provider;
  bool allowed;
};

// How often each user of the array was asked for what (the credentials read their user).
struct UserReads {
  int sid = 0;
  int qualifiedUserName = 0;
  int userName = 0;
};

struct Outcome {
  HRESULT hr = S_OK;  // the first failure that ended the sign-in early, else S_OK
  std::vector<std::string> lines;
  std::vector<FilterVerdict> verdicts;
  HRESULT updateRemote = S_FALSE;
  RemoteCredential updatedRemote;
  std::vector<GUID> providers;  // providers that took part (after the filters)
  std::vector<Submission> submissions;
  std::vector<UserReads> userReads;
  DWORD credentialCount = 0;
};

// Creates a COM object; the default is CoCreateInstance for in-process servers.
using ObjectFactory = std::function<HRESULT(REFCLSID clsid, REFIID iid, void** out)>;

class LogonUi {
 public:
  explicit LogonUi(std::function<void(const std::string&)> print = nullptr, ObjectFactory create = nullptr);

  Outcome signIn(const SignIn& request);

  // Called with the tile's credential after the fields are typed and before the first
  // submission (tests use it to look at the credential while it is live).
  std::function<void(ICredentialProviderCredential*)> beforeSubmit;

  // The registered providers and filters, as LogonUI reads them from the registry.
  static std::vector<GUID> registeredProviders();
  static std::vector<GUID> registeredFilters();

  // DllCanUnloadNow of every registered provider's and filter's library that is loaded in
  // this process, one line each.
  std::vector<std::string> unloadReport();

 private:
  void say(Outcome& outcome, const std::string& line);

  std::function<void(const std::string&)> print_;
  ObjectFactory create_;
};

// LogonUI's user array over `users` (one reference, the caller's); every read of a user's
// SID and names is counted in `reads`, which is sized to the users and must outlive the array.
ICredentialProviderUserArray* createUserArray(const std::vector<UserEntry>& users, std::vector<UserReads>* reads);

std::string guidText(REFGUID guid);
bool parseGuid(const std::string& text, GUID& out);
std::string hr(HRESULT value);

}  // namespace KvLogonUi
