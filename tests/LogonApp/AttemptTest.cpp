// The gate with the real MFA dialog against the simulator: while LogonUI's thread waits for the
// dialog it dispatches its messages, and a second attempt started from one of them, while the
// dialog sits idle and while it checks a code, must neither show a dialog nor touch the first.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ClassFactory.h"
#include "DialogUiSupport.h"
#include "FakeIdentity.h"
#include "Korvath/KvGeolocator.h"
#include "Korvath/View/DialogMessages.h"
#include "KvStandIn/PackedLogon.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;
using namespace Korvath::View;

namespace {

const wchar_t* const kPassword = L"Tr0ub4dor&3 \"secret\"";

// What LogonUI's window does with a message its thread dispatches while it waits.
std::function<void()> g_onMessage;

LRESULT CALLBACK logonUiProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP && g_onMessage) {
    g_onMessage();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class Attempts : public DialogUi::DialogTest {
 protected:
  void SetUp() override {
    DialogUi::DialogTest::SetUp();
    installTestMachine();
    Korvath::Provider::setModuleHandle(DialogUi::productModule());
    Korvath::Provider::setProviderEnvironment({&seam_, &geolocator_, [] { return false; }});
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = logonUiProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KvLogonUiStandIn";
    RegisterClassW(&windowClass);
  }
  void TearDown() override {
    g_onMessage = nullptr;
    Korvath::Provider::setProviderEnvironment(Korvath::Provider::ProviderEnvironment());
    DialogUi::DialogTest::TearDown();
  }

  KvTest::FakeIdentity seam_;
  Korvath::Geolocation::KvGeolocator geolocator_{[] { return nullptr; }};
};

}  // namespace

TEST_F(Attempts, ASecondAttemptWhileTheDialogWaitsOrChecksACodeIsRefusedAndTheFirstSignsIn) {
  writeAgentConfig({DialogSim::storedUser("alice", true, true, true, "otp")});
  std::atomic<HWND> logonUi{nullptr};
  HANDLE nestedDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE gateDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<KvLogonUi::Submission> nested;
  KvLogonUi::Submission outer;
  // LogonUI's thread: the password tile submitted once, blocking in the gate while the dialog
  // runs; its window's messages start the second attempts.
  std::thread logonUiThread([&] {
    EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
      Tile tile(classesOf(Korvath::Provider::getClassObject), guidOf(kWrappers[0].wrapper), CPUS_LOGON);
      if (SUCCEEDED(tile.hr)) {
        tile.type(L"alice", kPassword);
        HWND window = CreateWindowExW(0, L"KvLogonUiStandIn", L"LogonUI", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        g_onMessage = [&] {
          nested.push_back(tile.submit());
          SetEvent(nestedDone);
        };
        logonUi = window;
        outer = tile.submit();
        g_onMessage = nullptr;
        DestroyWindow(window);
      }
    }
    CoUninitialize();
    SetEvent(gateDone);
  });
  const HWND dialog = Korvath::Test::waitForWindow(kMfaDialogClass, 30000);
  const auto secondAttempt = [&] {
    PostMessageW(logonUi, WM_APP, 0, 0);
    return WaitForSingleObject(nestedDone, 20000) == WAIT_OBJECT_0;
  };
  const auto secondAttemptsWhileTheDialogRuns = [&] {  // an ASSERT ends this part only
    Korvath::Test::WindowDriver driver(dialog);
    ASSERT_TRUE(driver.sync());
    HWND box = driver.item(kOtpBoxId, driver.item(kOtpPanelId));
    ASSERT_NE(nullptr, box) << "alice's OTP panel";
    // The dialog waits for the user.
    ASSERT_TRUE(secondAttempt());
    ASSERT_TRUE(driver.sync()) << "the first dialog went away";
    // The dialog checks alice's code at the service, which holds the answer back meanwhile.
    fault(R"({"route":"authentication","delayMs":3000,"count":1})");
    const std::string code = ServicesTest::otpCode(0);
    ASSERT_TRUE(driver.type(box, std::wstring(code.begin(), code.end())));
    advanceMs(1000);  // past the click timer, and past the tile's 200 ms after the first second attempt
    driver.post(driver.item(kOtpEnterButtonId, driver.item(kOtpPanelId)), BM_CLICK);
    for (int i = 0; i < 500 && recorded("/authentication").empty(); ++i) Sleep(20);
    ASSERT_EQ(1u, recorded("/authentication").size());
    EXPECT_TRUE(secondAttempt());
  };
  EXPECT_NE(nullptr, dialog);
  if (dialog != nullptr) secondAttemptsWhileTheDialogRuns();
  // The gate ends; a dialog still open after a minute is closed, as a person would refuse it.
  if (WaitForSingleObject(gateDone, 60000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the first attempt did not end";
    while (WaitForSingleObject(gateDone, 100) != WAIT_OBJECT_0)
      if (HWND left = FindWindowW(kMfaDialogClass, nullptr)) PostMessageW(left, WM_CLOSE, 0, 0);
  }
  logonUiThread.join();
  CloseHandle(nestedDone);
  CloseHandle(gateDone);
  // Each second attempt was answered at once with no credential and no dialog of its own: the
  // service was asked for one policy and one code, the first attempt's.
  ASSERT_EQ(2u, nested.size());
  for (const KvLogonUi::Submission& s : nested) {
    EXPECT_EQ(E_ACCESSDENIED, s.hr);
    EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, s.response);
    EXPECT_TRUE(s.bytes.empty());
  }
  EXPECT_EQ(1u, recorded("/policy").size());
  EXPECT_EQ(1u, recorded("/authentication").size());
  // alice passed her code: LogonUI gets her serialization.
  EXPECT_EQ(S_OK, outer.hr);
  EXPECT_EQ(CPGSR_RETURN_CREDENTIAL_FINISHED, outer.response);
  EXPECT_EQ(KvStandIn::fromHex(outer.innerProduced), outer.bytes);
  EXPECT_EQ(nullptr, FindWindowW(kMfaDialogClass, nullptr));
}
