// The library's log as the agent's "Log" value switches it: opened by the first request for a
// class object (not while the DLL is being loaded), "Log opening" and "Closing log" around what
// a sign-in writes, readable by SYSTEM and Administrators only, opened by the project's own log
// key, and holding no password or serialization bytes.

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <future>

#include "KvLogRead/SealedLog.h"
#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

const wchar_t* const kLogPath = L"C:\\PelloraAgentForWindows.log";
const wchar_t* const kPassword = L"Corr3ct-Horse battery";

bool fileExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// The file's DACL in SDDL form.
std::wstring daclText(const wchar_t* path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  LPWSTR text = nullptr;
  std::wstring out;
  if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr))
    out = text;
  LocalFree(text);
  LocalFree(descriptor);
  return out;
}

// Plays the person at the MFA dialog that a sign-in on this thread shows: presses its Back
// button, which refuses the sign-in. True when a dialog came within a minute.
std::future<bool> refuseTheDialog() {
  return std::async(std::launch::async, [] {
    for (int tries = 0; tries < 1200; ++tries) {
      HWND dialog = FindWindowW(L"MFA_Dialog", nullptr);
      if (dialog != nullptr && IsWindowVisible(dialog)) return PostMessageW(dialog, WM_COMMAND, 216 /* Back */, 0) != 0;
      Sleep(50);
    }
    return false;
  });
}

class LibraryLog : public Library {
 protected:
  void TearDown() override {
    Library::TearDown();
    setAgentValue(L"Log", nullptr);
    DeleteFileW(kLogPath);
  }
};

}  // namespace

TEST_F(LibraryLog, OnlyAnEnabledLogIsWrittenAndItFramesASignInAndHoldsNoSecret) {
  DeleteFileW(kLogPath);
  for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L"Enabled", L"disabled", L""}) {
    setAgentValue(L"Log", value);
    IClassFactory* f = nullptr;
    ASSERT_EQ(S_OK, getClassObject(guidOf(kWrappers[0].wrapper), IID_IClassFactory, reinterpret_cast<void**>(&f)));
    f->Release();
    unload();
    EXPECT_FALSE(fileExists(kLogPath)) << (value == nullptr ? "absent" : "set");
    // Loaded with the log enabled, the library opens it at the first request, not before.
    setAgentValue(L"Log", L"enabled");
    load();
    EXPECT_FALSE(fileExists(kLogPath)) << "opened while the library was being loaded";
  }
  KvLogonUi::LogonUi logonUi(nullptr, create);
  KvLogonUi::SignIn request;
  request.tile = guidOf(kWrappers[0].wrapper);
  request.user = L"alice";
  request.password = kPassword;
  // The agent is not installed here: the dialog says so, and the person goes Back.
  std::future<bool> refused = refuseTheDialog();
  const KvLogonUi::Outcome outcome = logonUi.signIn(request);
  EXPECT_TRUE(refused.get());
  ASSERT_EQ(1u, outcome.submissions.size());
  EXPECT_EQ(E_ACCESSDENIED, outcome.submissions[0].hr);
  const std::string produced = outcome.submissions[0].innerProduced;
  ASSERT_GT(produced.size(), 64u);
  unload();

  // SYSTEM and Administrators only (Wine keeps file permissions as the owner's Unix mode, so
  // there the owner stands for Administrators): nobody else, not Everyone, not Users.
  const std::wstring dacl = daclText(kLogPath);
  EXPECT_NE(std::wstring::npos, dacl.find(L";;;SY)"));
  for (const wchar_t* other : {L";;;WD)", L";;;BU)", L";;;AU)", L";;;IU)"}) {
    EXPECT_EQ(std::wstring::npos, dacl.find(other)) << std::string(dacl.begin(), dacl.end());
  }

  // Opened with this machine's log key as the project's tools open it.
  std::vector<KvLogRead::Record> records;
  std::string error;
  ASSERT_TRUE(KvLogRead::readSealedLog("C:/PelloraAgentForWindows.log", records, error)) << error;
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ("Log opening", records.front().message);
  EXPECT_EQ("Closing log", records.back().message);
  const std::string utf16Hex = KvStandIn::toHex(utf16Bytes(kPassword).data(), utf16Bytes(kPassword).size());
  for (const KvLogRead::Record& record : records) {
    const std::string& message = record.message;
    EXPECT_TRUE(record.opened);
    EXPECT_EQ(std::string::npos, message.find("Horse")) << message;
    EXPECT_EQ(std::string::npos, message.find(utf16Hex.substr(0, 24))) << message;
    EXPECT_EQ(std::string::npos, message.find(produced.substr(0, 32))) << message;
  }
}
