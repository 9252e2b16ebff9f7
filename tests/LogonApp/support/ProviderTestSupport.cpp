#include "ProviderTestSupport.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>

#include "KvLogRead/SealedLog.h"
#include "KvStandIn/Install.h"
#include "Registration.h"

namespace ProviderTest {

namespace {

const wchar_t* const kAgentKey = L"SOFTWARE\\Halvane\\Pellora Agent";

void setString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

}  // namespace

const WrapperRow kWrappers[8] = {
    {"{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}", 200, "{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}", "password"},
    {"{5D76DE6C-7F65-4431-89AC-2D43EBE72298}", 201, "{D6886603-9D2F-4EB2-B667-1971041FA96B}", "PIN"},
    {"{B88420D8-BAB2-4451-A2D3-A2F99AF9854A}", 202, "{BEC09223-B018-416D-A0AC-523971B639F5}", "fingerprint"},
    {"{22AD5268-00F7-427E-A4F7-87C7CF161BA7}", 203, "{8AF662BF-65A0-4D0A-A540-A338A999D36F}", "face"},
    {"{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}", 204, "{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}", "picture password"},
    {"{3AAAD06D-817D-4028-B640-06E07C903BD0}", 205, "{F8A0B131-5F68-486C-8040-7E8FC3C85BB6}", "Microsoft account"},
    {"{061299FA-2FD9-46D6-B300-B2E15A388636}", 206, "{F8A1793B-7873-4046-B2A7-1F318747F427}", "FIDO security key"},
    {"{2BFD34AC-10D7-4C70-94F5-3F7EA9025B0E}", 207, "{8FD7E19C-3BF7-489B-A72C-846AB3678C96}", "smart card"},
};

GUID guidOf(const char* value) {
  GUID out = GUID_NULL;
  EXPECT_TRUE(KvLogonUi::parseGuid(value, out)) << value;
  return out;
}

std::string text(REFGUID guid) { return KvLogonUi::guidText(guid); }

std::wstring binDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L"\\/"));
}

void installStandIns() { ASSERT_EQ("", KvStandIn::installStandIns(binDirectory())); }

void registerKvCredProv() {
  ASSERT_EQ("", Korvath::Install::registerCredentialProvider(binDirectory() + L"\\KvCredProv.dll"));
}

std::string ask(IUnknown* object, const wchar_t* question) {
  IStandInProbe* probe = nullptr;
  if (object == nullptr || FAILED(object->QueryInterface(IID_IStandInProbe, reinterpret_cast<void**>(&probe))))
    return "<no probe>";
  LPWSTR answer = nullptr;
  std::string out = "<no answer>";
  if (SUCCEEDED(probe->Ask(question, &answer)) && answer != nullptr) {
    std::wstring w = answer;
    out.assign(w.begin(), w.end());
  }
  CoTaskMemFree(answer);
  probe->Release();
  return out;
}

HRESULT tell(IUnknown* object, const wchar_t* key, const wchar_t* value) {
  IStandInProbe* probe = nullptr;
  HRESULT hr = object->QueryInterface(IID_IStandInProbe, reinterpret_cast<void**>(&probe));
  if (FAILED(hr)) return hr;
  hr = probe->Tell(key, value);
  probe->Release();
  return hr;
}

void setAgentValue(const wchar_t* name, const wchar_t* value) { setString(kAgentKey, name, value); }

void deleteAgentValue(const wchar_t* name) { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAgentKey, name); }

std::wstring hklmString(const std::wstring& key, const wchar_t* name, bool* found) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  const bool ok = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) ==
                  ERROR_SUCCESS;
  if (found != nullptr) *found = ok;
  return ok ? buffer : L"";
}

bool hklmKeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::vector<std::string> sealedLogMessages(const std::string& path) {
  std::vector<KvLogRead::Record> records;
  std::string error;
  EXPECT_TRUE(KvLogRead::readSealedLog(path, records, error)) << error;
  std::vector<std::string> messages;
  for (const KvLogRead::Record& record : records) {
    if (record.opened)
      messages.push_back(record.message);
    else
      ADD_FAILURE() << "unreadable record in " << path;
  }
  return messages;
}

int runCommand(const std::wstring& commandLine, std::string& output) {
  FILE* pipe = _wpopen(commandLine.c_str(), L"rb");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  return _pclose(pipe);
}

std::vector<std::uint8_t> utf16Bytes(const std::wstring& value) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data());
  return std::vector<std::uint8_t>(bytes, bytes + value.size() * sizeof(wchar_t));
}

bool contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle) {
  return !needle.empty() && std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

Tile::Tile(const KvLogonUi::ObjectFactory& create, REFCLSID clsid, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario,
           const std::function<void(ICredentialProvider*)>& beforeCount, DWORD index) {
  hr = create(clsid, IID_ICredentialProvider, reinterpret_cast<void**>(&provider));
  if (SUCCEEDED(hr)) hr = provider->SetUsageScenario(scenario, 0);
  if (FAILED(hr)) return;
  if (beforeCount) beforeCount(provider);
  DWORD defaultIndex = 0;
  BOOL autoLogon = FALSE;
  hr = provider->GetCredentialCount(&count, &defaultIndex, &autoLogon);
  if (SUCCEEDED(hr)) hr = provider->GetCredentialAt(index, &credential);
  if (SUCCEEDED(hr)) {
    BOOL selectedAutoLogon = FALSE;
    hr = credential->SetSelected(&selectedAutoLogon);
  }
}

Tile::~Tile() {
  if (credential != nullptr) credential->Release();
  if (provider != nullptr) {
    provider->UnAdvise();
    provider->Release();
  }
}

void Tile::type(const std::wstring& user, const std::wstring& password) {
  ASSERT_NE(credential, nullptr);
  ASSERT_EQ(S_OK, credential->SetStringValue(KvStandIn::kFieldUser, user.c_str()));
  ASSERT_EQ(S_OK, credential->SetStringValue(KvStandIn::kFieldPassword, password.c_str()));
}

KvLogonUi::Submission Tile::submit() {
  KvLogonUi::Submission s;
  CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs;
  // What LogonUI passes in is not initialized; the credential must not rely on it.
  FillMemory(&cs, sizeof cs, 0xCC);
  LPWSTR statusText = reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(0xCCCC));
  CREDENTIAL_PROVIDER_STATUS_ICON icon = static_cast<CREDENTIAL_PROVIDER_STATUS_ICON>(0xCC);
  s.hr = credential->GetSerialization(&response, &cs, &statusText, &icon);
  s.response = static_cast<int>(response);
  s.package = cs.ulAuthenticationPackage;
  s.provider = cs.clsidCredentialProvider;
  EXPECT_TRUE(cs.rgbSerialization != nullptr || cs.cbSerialization == 0) << "a size without bytes";
  if (cs.rgbSerialization != nullptr && reinterpret_cast<std::uintptr_t>(cs.rgbSerialization) != 0xCCCCCCCCCCCCCCCCull) {
    s.bytes.assign(cs.rgbSerialization, cs.rgbSerialization + cs.cbSerialization);
    SecureZeroMemory(cs.rgbSerialization, cs.cbSerialization);
    CoTaskMemFree(cs.rgbSerialization);
  } else if (cs.rgbSerialization != nullptr) {
    ADD_FAILURE() << "the serialization record was left as LogonUI passed it";
  }
  if (reinterpret_cast<std::uintptr_t>(statusText) == 0xCCCC) {
    ADD_FAILURE() << "the status text was left as LogonUI passed it";
  } else if (statusText != nullptr) {
    s.statusText = statusText;
    CoTaskMemFree(statusText);
  }
  EXPECT_NE(static_cast<int>(icon), 0xCC) << "the status icon was left as LogonUI passed it";
  s.innerProduced = ask(credential, L"produced");
  return s;
}

DialogRefuser::DialogRefuser(DWORD timeoutMs) : timeoutMs_(timeoutMs) {
  thread_ = CreateThread(nullptr, 0, &DialogRefuser::run, this, 0, nullptr);
}

DialogRefuser::~DialogRefuser() {
  if (thread_ != nullptr) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
}

bool DialogRefuser::dialogSeen() {
  if (thread_ != nullptr) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  return seen_ != 0;
}

DWORD WINAPI DialogRefuser::run(LPVOID self) {
  auto* refuser = static_cast<DialogRefuser*>(self);
  const ULONGLONG end = GetTickCount64() + refuser->timeoutMs_;
  while (GetTickCount64() < end) {
    HWND dialog = FindWindowW(L"MFA_Dialog", nullptr);
    if (dialog != nullptr && IsWindowVisible(dialog)) {
      InterlockedExchange(&refuser->seen_, 1);
      PostMessageW(dialog, WM_COMMAND, 216 /* Back */, 0);
      return 0;
    }
    Sleep(50);
  }
  return 0;
}

}  // namespace ProviderTest
