// The library's log as the agent's "Log" value switches it: opened by the first request
// for a class object (not while the DLL is being loaded), "Log opening" and "Closing log"
// around what a sign-in writes, readable by SYSTEM and Administrators only, opened by the
// project's own log key, and holding no password or serialization bytes.

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <rapidjson/document.h>

#include "CryptoSdk/SecurityService.h"
#include "Korvath/Platform.h"
#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

const wchar_t* const kLogPath = L"C:\\PelloraAgentForWindows.log";
const wchar_t* const kPassword = L"Corr3ct-Horse battery";

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(__stdcall*)();

bool fileExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> logMessages() {
  std::ifstream in("C:/PelloraAgentForWindows.log", std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::vector<std::uint8_t> secret;
  EXPECT_TRUE(Korvath::Platform::machineSecret(secret));
  CryptoSdk::SealKey key;
  EXPECT_EQ(0, CryptoSdk::LogSecurityService::deriveLogKey(secret, key));
  std::vector<std::string> messages;
  std::string record;
  while (std::getline(content, record)) {
    if (!record.empty() && record.back() == '\r') record.pop_back();
    if (record.empty()) continue;
    rapidjson::Document doc;
    doc.Parse(record.c_str());
    if (!doc.IsObject() || !doc.HasMember("message") || !doc["message"].IsString()) {
      ADD_FAILURE() << "unreadable record " << record;
      continue;
    }
    std::string plain;
    EXPECT_EQ(0, CryptoSdk::LogSecurityService::open(key, doc["message"].GetString(), plain));
    messages.push_back(plain);
  }
  return messages;
}

// The SIDs the file's DACL grants anything to, and whether the DACL is protected.
std::vector<std::wstring> grantees(const wchar_t* path, bool& isProtected) {
  std::vector<std::wstring> out;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return out;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    LPWSTR text = nullptr;
    if (ConvertSidToStringSidW(&ace->SidStart, &text)) out.push_back(text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  return out;
}

std::wstring currentUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = 0;
  std::wstring out;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
    LPWSTR text = nullptr;
    if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) out = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return out;
}

class LibraryLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installStandIns();
    registerKvCredProv();
    DeleteFileW(kLogPath);
  }
  void TearDown() override {
    deleteAgentValue(L"Log");
    DeleteFileW(kLogPath);
    CoUninitialize();
  }
  void load() {
    module_ = LoadLibraryW((binDirectory() + L"\\KvCredProv.dll").c_str());
    ASSERT_NE(module_, nullptr);
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ =
        reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllCanUnloadNow")));
  }
  void unload() {
    EXPECT_EQ(S_OK, canUnloadNow_());
    FreeLibrary(module_);
    EXPECT_EQ(nullptr, GetModuleHandleW((binDirectory() + L"\\KvCredProv.dll").c_str()));
  }
  // The library's own classes from the loaded module, anything else through COM.
  KvLogonUi::ObjectFactory factory() {
    return [this](REFCLSID clsid, REFIID iid, void** out) -> HRESULT {
      IClassFactory* f = nullptr;
      HRESULT hr = getClassObject_(clsid, IID_IClassFactory, reinterpret_cast<void**>(&f));
      if (hr == CLASS_E_CLASSNOTAVAILABLE) return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
      if (FAILED(hr)) return hr;
      hr = f->CreateInstance(nullptr, iid, out);
      f->Release();
      return hr;
    };
  }

  HMODULE module_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

}  // namespace

TEST_F(LibraryLog, EnabledLogFramesASignInAndHoldsNoSecret) {
  setAgentValue(L"Log", L"enabled");
  load();
  EXPECT_FALSE(fileExists(kLogPath)) << "opened while the library was being loaded";
  KvLogonUi::LogonUi logonUi(nullptr, factory());
  KvLogonUi::SignIn request;
  request.tile = guidOf(kWrappers[0].wrapper);
  request.user = L"alice";
  request.password = kPassword;
  const KvLogonUi::Outcome outcome = logonUi.signIn(request);
  ASSERT_EQ(1u, outcome.submissions.size());
  EXPECT_EQ(E_ACCESSDENIED, outcome.submissions[0].hr);
  const std::string produced = outcome.submissions[0].innerProduced;
  ASSERT_GT(produced.size(), 64u);
  unload();

  // SYSTEM and Administrators only; Wine keeps file permissions as the owner's Unix mode, so
  // there the owner (this user) stands for them. Nobody else.
  bool isProtected = false;
  const std::vector<std::wstring> sids = grantees(kLogPath, isProtected);
  EXPECT_FALSE(sids.empty());
  const std::wstring me = currentUserSid();
  for (const std::wstring& sid : sids) {
    EXPECT_TRUE(sid == L"S-1-5-18" || sid == L"S-1-5-32-544" || sid == me) << std::string(sid.begin(), sid.end());
  }

  const std::vector<std::string> messages = logMessages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ("Log opening", messages.front());
  EXPECT_EQ("Closing log", messages.back());
  const std::string utf16Hex = KvStandIn::toHex(utf16Bytes(kPassword).data(), utf16Bytes(kPassword).size());
  for (const std::string& message : messages) {
    EXPECT_EQ(std::string::npos, message.find("Horse")) << message;
    EXPECT_EQ(std::string::npos, message.find(utf16Hex.substr(0, 24))) << message;
    EXPECT_EQ(std::string::npos, message.find(produced.substr(0, 32))) << message;
  }
}

TEST_F(LibraryLog, NoLogUnlessTheValueIsExactlyEnabled) {
  for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L"Enabled", L"disabled", L""}) {
    if (value == nullptr) {
      deleteAgentValue(L"Log");
    } else {
      setAgentValue(L"Log", value);
    }
    load();
    IClassFactory* f = nullptr;
    ASSERT_EQ(S_OK, getClassObject_(guidOf(kWrappers[0].wrapper), IID_IClassFactory, reinterpret_cast<void**>(&f)));
    f->Release();
    unload();
    EXPECT_FALSE(fileExists(kLogPath)) << (value == nullptr ? "absent" : "set");
  }
}
