// The MFA dialog's frame, run by a gate thread exactly as the credential provider runs it
// (MfaDialog dialog(...); closeWindow(); start(); read the flag; tearDownMfaDialog()) and worked
// from the test's thread as a user would: the start-up decisions with the real window, option
// buttons, keys and the click timer, About, Remote Desktop, a window that cannot be made, a
// failing panel, LogonUI's thread while it waits, handle counts, and screenshots.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CloudTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"
#include "Korvath/Test/UiFixture.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/MfaDialog.h"
#include "Korvath/View/ViewUtils.h"
#include "QrForgotServiceTestSupport.h"
#include "ViewTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;
using Korvath::Model::UserConfig;
using Korvath::Test::productModule;
using Korvath::Test::WindowDriver;

namespace {

constexpr std::uint64_t kMs = 10000;  // FILETIME units

std::wstring text(HWND window) {
  wchar_t buffer[2048] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 10000, &copied);
  return std::wstring(buffer, copied);
}

std::wstring productText(UINT id) { return Korvath::Utils::LanguageUtil::GetWText(id); }

// The "Static" children of `parent` in the order they were made; with `id` >= 0 only those of
// that id (an option button's label shares the button's id).
std::vector<HWND> statics(HWND parent, int id = -1) {
  struct Search {
    int id;
    std::vector<HWND> found;
  } search{id, {}};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (_wcsicmp(name, L"Static") == 0 && (s->id < 0 || GetDlgCtrlID(child) == s->id)) s->found.push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

RECT rectIn(HWND window, HWND parent) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The panel the dialog shows now (its id), 0 when none.
UINT shownPanel(HWND dialog) {
  for (UINT id : {kPushPanelId, kQrCodePanelId, kOtpPanelId, kForgotTokenActivationPanelId,
                  kForgotTokenAuthenticationPanelId, kErrorMessagePanelId}) {
    HWND panel = GetDlgItem(dialog, static_cast<int>(id));
    if (panel != nullptr && IsWindowVisible(panel)) return id;
  }
  return 0;
}

LONG fontWeight(HWND window) {
  LOGFONTW font{};
  auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  return handle != nullptr && GetObjectW(handle, sizeof font, &font) != 0 ? font.lfWeight : 0;
}

// One sign-in attempt: the credential provider's gate on a thread of its own (LogonUI's thread,
// with a window of its own when asked), the dialog window once shown, a driver of its thread.
class Attempt {
 public:
  explicit Attempt(std::vector<std::string> names, bool isRdp = false, bool logonUiWindow = false)
      : names_(std::move(names)), isRdp_(isRdp), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this, logonUiWindow] {
      MSG msg;
      PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
      if (logonUiWindow) logonUi = Korvath::Test::createHostWindow(L"LogonUI", 200, 100);
      threadId = GetCurrentThreadId();
      {
        MfaDialog dialog(&isRdp_, &names_, productModule(), &clientIp_);
        MfaDialog::closeWindow();
        dialog.start();
        passed = dialogState().validated.load();
        quitSeenAfterStart = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
        tearDownMfaDialog();
      }
      if (logonUi != nullptr) DestroyWindow(logonUi);
      SetEvent(done_);
    });
    for (int i = 0; i < 4000 && dialog == nullptr && !finished(5); ++i) {
      HWND window = FindWindowW(kMfaDialogClass, nullptr);
      if (window != nullptr && IsWindowVisible(window)) dialog = window;
    }
    if (dialog != nullptr) driver.reset(new WindowDriver(dialog));
    if (driver) driver->sync();
  }
  ~Attempt() {
    driver.reset();
    // A test that stopped half-way leaves its dialog (and perhaps About) open.
    for (int i = 0; i < 600 && !finished(100); ++i) {
      for (const wchar_t* name : {kAboutDialogClass, kMfaDialogClass}) {
        if (HWND window = FindWindowW(name, nullptr)) PostMessageW(window, WM_CLOSE, 0, 0);
      }
    }
    thread_.join();
    CloseHandle(done_);
  }
  bool finished(DWORD timeoutMs = 20000) { return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0; }
  void click(HWND parent, int id) { driver->click(GetDlgItem(parent, id)); }

  std::atomic<bool> passed{false};
  std::atomic<bool> quitSeenAfterStart{false};
  std::atomic<HWND> logonUi{nullptr};
  std::atomic<DWORD> threadId{0};
  HWND dialog = nullptr;  // null when the gate ended without showing one
  std::unique_ptr<WindowDriver> driver;

 private:
  std::vector<std::string> names_;
  bool isRdp_;
  std::string clientIp_ = "10.1.2.3";
  HANDLE done_;
  std::thread thread_;
};

// Takes the place of the "MFA_Dialog" class in the product module while it lives: each window
// the dialog tries to make of it is counted and refused.
std::atomic<int> refusedWindows{0};
struct RefusedDialogClass {
  RefusedDialogClass() {
    refusedWindows = 0;
    UnregisterClassW(kMfaDialogClass, productModule());
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      if (message != WM_NCCREATE) return DefWindowProcW(window, message, wParam, lParam);
      ++refusedWindows;
      return FALSE;
    };
    wc.hInstance = productModule();
    wc.lpszClassName = kMfaDialogClass;
    registered = RegisterClassExW(&wc) != 0;
  }
  ~RefusedDialogClass() { UnregisterClassW(kMfaDialogClass, productModule()); }
  bool registered = false;
};

class DialogFrame : public ServicesTest::ServiceSimTestBase {
 protected:
  void SetUp() override {
    ServiceSimTestBase::SetUp();
    Korvath::Utils::LanguageUtil::setResourceModule(productModule());
    tearDownMfaDialog();
    clock_.set(BizCoreTest::FakeClock::kStart);
  }
  void TearDown() override {
    tearDownMfaDialog();
    ServiceSimTestBase::TearDown();
  }
  // The configuration file: the simulator's account, `users`, offline and forgot token on.
  void writeAgentConfig(const std::vector<UserConfig>& users, const std::function<void(ServerConfig&)>& adjust = nullptr,
                        std::int32_t resourceId = 4242) {
    KvCrypto crypto;
    Config config(&crypto);
    BizCoreTest::fillSimConfig(config, Platform::configFilePath());
    config.setResourceId(resourceId);
    config.setResourceAlias("Simulated Desktop");
    config.setMasterPassword("sim-master-password-0001");
    config.setLastSync(clock_.nowFileTime());
    config.setLastRun(clock_.nowFileTime());
    ServerConfig server = config.getServerConfig();
    server.setOffline(1);
    server.setEnableForgotAuthenticator(1);
    if (adjust) adjust(server);
    ASSERT_EQ(0, config.setServerConfig(server));
    ASSERT_EQ(0, config.setUsersConfig(users));
    ASSERT_EQ(0, config.writeFile());
  }
  // Stored users with factors (push, QR code, OTP) and the last one used; the service cannot
  // be reached, so the stored factors count.
  void offlineWith(const std::string& login, bool push, bool qrcode, bool otp, const std::string& last,
                   bool forgotToken = true) {
    writeAgentConfig({QrForgotServiceTest::qrUser(login, push, qrcode, otp, {QrForgotServiceTest::mobile(1001)}, last)},
                     [&](ServerConfig& server) { server.setEnableForgotAuthenticator(forgotToken ? 1 : 0); });
    pointAt(CloudTest::closedPort());
  }
  // 1 on the build's display, 1.5 on the 2880x1620 desktop (KV_EXPECT_SCALE).
  const double s_ = std::getenv("KV_EXPECT_SCALE") ? std::strtod(std::getenv("KV_EXPECT_SCALE"), nullptr) : 1.0;
};

enum class Close { None, Ok, Back };

TEST_F(DialogFrame, TheWindowDoesWhatTheStartUpDecides) {
  const UserConfig alice = QrForgotServiceTest::qrUser("alice", true, true, true, {QrForgotServiceTest::mobile(1001)}, "otp");
  const auto unknownUsersAllowed = [&](const std::string& passedOnlineBefore) {
    writeAgentConfig({alice}, [](ServerConfig& server) { server.setAllowUnknownUsers(1); });
    KvCrypto crypto;
    Config config(&crypto);
    ASSERT_EQ(0, config.readFile());
    if (!passedOnlineBefore.empty()) {
      ASSERT_TRUE(config.shouldBypassMfaForNonPelloraUser(passedOnlineBefore, true));
    }
    pointAt(CloudTest::closedPort());
  };
  const auto resourceGone = [&] {
    writeAgentConfig({alice}, nullptr, 9999);
    clock_.set(BizCoreTest::FakeClock::kStart + 25 * ServicesTest::kHour);  // a synchronization is due
  };
  const auto unreadableInstallConfig = [] {
    std::FILE* file = std::fopen(Platform::installConfigFilePath().c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fputs("not sealed", file);
    std::fclose(file);
  };
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::vector<std::string> names;
    UINT panel;       // shown first; 0: no window at all
    UINT errorText;   // the error panel's message begins with it
    Close close;
    bool passed;
    int refused = -1;  // >= 0: the window class refuses windows; the dialog tries this many
  } cases[] = {
      {"7000 unknown user let through offline", [&] { unknownUsersAllowed("zoe"); }, {"zoe"}, 0, 0, Close::None, true, 0},
      {"5129 safe network",
       [&] {
         writeAgentConfig({alice});
         reply("policy", 200,
               "[{\"username\":\"alice\",\"email\":\"alice@sim.example\",\"hasPolicy\":true,\"isAllowedToAuthenticate\":true,"
               "\"isInSafeLocation\":true,\"isBlocked\":false,\"isOverallocated\":false,\"isInQuarantine\":false,"
               "\"isInForgotToken\":false,\"authTypes\":{\"push\":true,\"qrcode\":true,\"otp\":true}}]");
       },
       {"alice"}, 0, 0, Close::None, true, 0},
      {"5108 resource gone, OK", resourceGone, {"alice"}, kErrorMessagePanelId, 428, Close::Ok, true},
      {"5108 resource gone, Back", resourceGone, {"alice"}, kErrorMessagePanelId, 428, Close::Back, false},
      {"5005 install configuration unreadable, OK", unreadableInstallConfig, {"alice"}, kErrorMessagePanelId, 464, Close::Ok, true},
      {"5005 install configuration unreadable, Back", unreadableInstallConfig, {"alice"}, kErrorMessagePanelId, 464, Close::Back, false},
      {"5100 no configuration at all, OK", [] {}, {"alice"}, kErrorMessagePanelId, 426, Close::Ok, true},
      {"5100 no configuration at all, Back", [] {}, {"alice"}, kErrorMessagePanelId, 426, Close::Back, false},
      {"5103 empty name list", [&] { writeAgentConfig({alice}); }, {}, kErrorMessagePanelId, 409, Close::Ok, false},
      {"offline known user: the stored factors", [&] { offlineWith("carol", false, true, true, "qrcode"); }, {"carol"},
       kQrCodePanelId, 0, Close::Back, false},
      {"5134 offline unknown user never seen online", [&] { unknownUsersAllowed(""); }, {"zoe"}, kErrorMessagePanelId, 448,
       Close::Ok, false},
      {"window cannot be made: refused at once", [&] { writeAgentConfig({alice}); }, {"alice"}, 0, 0, Close::None, false, 1},
      {"5108 but no window for the error panel: refused", resourceGone, {"alice"}, 0, 0, Close::None, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.prepare();
    refusedWindows = 0;
    std::unique_ptr<RefusedDialogClass> refusing(c.refused >= 0 ? new RefusedDialogClass() : nullptr);
    ASSERT_TRUE(!refusing || refusing->registered);
    Attempt shown(c.names);
    ASSERT_EQ(c.panel == 0, shown.dialog == nullptr);
    if (shown.dialog != nullptr) {
      EXPECT_EQ(c.panel, shownPanel(shown.dialog));
      // Offline, the options are the stored ones: carol has no push.
      EXPECT_EQ(c.panel == kQrCodePanelId, GetDlgItem(shown.dialog, kCmdQrCode) != nullptr);
      EXPECT_EQ(nullptr, GetDlgItem(shown.dialog, kCmdPush));
      HWND errorPanel = GetDlgItem(shown.dialog, kErrorMessagePanelId);
      if (c.errorText != 0) {
        const std::wstring message = text(GetDlgItem(errorPanel, kErrorMessageLabelId));
        EXPECT_EQ(0u, message.find(productText(c.errorText))) << std::string(message.begin(), message.end());
      }
      shown.click(c.close == Close::Ok ? errorPanel : shown.dialog, c.close == Close::Ok ? kErrorPanelOkButtonId : kCmdBack);
    }
    ASSERT_TRUE(shown.finished()) << "the dialog thread did not end";
    EXPECT_EQ(c.passed, shown.passed);
    EXPECT_EQ(c.refused >= 0 ? c.refused : 0, refusedWindows.load());
  }
}

TEST_F(DialogFrame, DigitsReachThePanelShortcutsSwitchEnabledOptionsFastCommandsAreDropped) {
  offlineWith("bob", true, false, true, "otp");
  Attempt shown({"bob"});
  HWND dialog = shown.dialog;
  ASSERT_NE(nullptr, dialog);
  ASSERT_EQ(kOtpPanelId, shownPanel(dialog));
  // A digit on the number pad typed anywhere (here on an option button) goes to the panel's
  // box, which takes the focus so that the next digits are typed into it.
  HWND box = GetDlgItem(GetDlgItem(dialog, kOtpPanelId), kOtpBoxId);
  shown.driver->key(GetDlgItem(dialog, kCmdPush), VK_NUMPAD7);
  ASSERT_TRUE(shown.driver->sync());
  EXPECT_EQ(L"7", text(box));
  EXPECT_EQ(box, shown.driver->focus());
  // Shortcuts switch only to an option the user has (bob has no QR code); the chosen one is bold.
  const struct {
    UINT key, panel, bold;
  } steps[] = {{'Q', kOtpPanelId, kCmdOtp}, {'P', kPushPanelId, kCmdPush}, {'F', kForgotTokenActivationPanelId, kCmdForgotToken},
               {'O', kOtpPanelId, kCmdOtp}, {'P', kPushPanelId, kCmdPush}};
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<char>(step.key));
    shown.driver->key(dialog, step.key);
    EXPECT_EQ(step.panel, shownPanel(dialog));
    for (int id : {kCmdPush, kCmdOtp, kCmdForgotToken}) {
      EXPECT_EQ(static_cast<UINT>(id) == step.bold ? 900 : 300, fontWeight(statics(dialog, id).at(0))) << id;
    }
  }
  // Within 100 ms of an action that started the click timer, commands are dropped.
  const std::uint64_t started = clock_.nowFileTime();
  dialogState().clickTimer->start(100, 0);
  for (std::uint64_t elapsed : {0, 99, 100}) {
    clock_.set(started + elapsed * kMs);
    shown.driver->key(dialog, 'O');
    EXPECT_EQ(elapsed < 100 ? kPushPanelId : kOtpPanelId, shownPanel(dialog)) << elapsed << " ms";
  }
  shown.click(dialog, kCmdBack);
  ASSERT_TRUE(shown.finished());
  EXPECT_FALSE(shown.passed);
}

TEST_F(DialogFrame, AboutShowsItsTextsAndClosesBackToTheDialog) {
  offlineWith("alice", true, true, true, "otp");
  Attempt shown({"alice"});
  ASSERT_NE(nullptr, shown.dialog);
  enum How { BackButton, CloseMessage, GateClosesTheDialog };
  for (How how : {BackButton, CloseMessage, GateClosesTheDialog}) {
    SCOPED_TRACE(how);
    shown.click(shown.dialog, kCmdAbout);
    HWND about = Korvath::Test::waitForWindow(kAboutDialogClass);
    ASSERT_NE(nullptr, about);
    const std::vector<HWND> labels = statics(about);
    ASSERT_EQ(3u, labels.size());
    EXPECT_EQ(productText(417) + L"3.0.1.643", text(labels[0]));
    EXPECT_NE(std::wstring::npos, text(labels[1]).find(L"2023"));  // the year of text 418 replaced
    EXPECT_EQ(0u, text(labels[2]).find(productText(419) + L" Simulated Desktop\n" + productText(420)));
    // The dialog takes no input meanwhile, but its thread goes on answering.
    EXPECT_FALSE(IsWindowEnabled(shown.dialog));
    DWORD_PTR answer = 0;
    EXPECT_NE(0, SendMessageTimeoutW(shown.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer));
    if (how == GateClosesTheDialog) {
      EXPECT_EQ(S_OK, MfaDialog::closeWindow());
      ASSERT_TRUE(shown.finished());
      EXPECT_FALSE(shown.passed);
      EXPECT_FALSE(IsWindow(about));
      break;
    }
    if (how == BackButton) shown.click(about, kAboutBackButtonId);
    if (how == CloseMessage) shown.driver->post(about, WM_CLOSE);
    ASSERT_TRUE(shown.driver->waitUntil([&] { return !IsWindow(about); }));
    EXPECT_TRUE(IsWindowEnabled(shown.dialog));
    // Control is back with the dialog: it switches options again.
    shown.driver->command(how == BackButton ? kCmdQrCode : kCmdOtp);
    EXPECT_EQ(how == BackButton ? kQrCodePanelId : kOtpPanelId, shownPanel(shown.dialog));
  }
}

TEST_F(DialogFrame, LogonUiThreadKeepsAnsweringWhileItWaitsForTheDialog) {
  offlineWith("alice", true, true, true, "otp");
  Attempt shown({"alice"}, false, true);
  ASSERT_NE(nullptr, shown.dialog);
  // The gate's thread is inside start(): its window still answers, and a quit message posted
  // to it meanwhile is still there for its own loop afterwards.
  DWORD_PTR answer = 0;
  EXPECT_NE(0, SendMessageTimeoutW(shown.logonUi, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer));
  PostThreadMessageW(shown.threadId, WM_QUIT, 7, 0);
  shown.click(shown.dialog, kCmdBack);
  ASSERT_TRUE(shown.finished());
  EXPECT_FALSE(shown.passed);
  EXPECT_TRUE(shown.quitSeenAfterStart);
}

TEST_F(DialogFrame, NoHandleGrowthOverFiftyDialogs) {
  offlineWith("alice", true, true, true, "otp");
  // One sign-in: the dialog, About opened and closed, Back.
  auto attempt = [&]() -> bool {
    Attempt shown({"alice"});
    if (shown.dialog == nullptr) return false;
    shown.click(shown.dialog, kCmdAbout);
    HWND about = Korvath::Test::waitForWindow(kAboutDialogClass);
    if (about == nullptr) return false;
    shown.click(about, kAboutBackButtonId);
    if (!shown.driver->waitUntil([&] { return !IsWindow(about); })) return false;
    shown.click(shown.dialog, kCmdBack);
    return shown.finished() && !shown.passed;
  };
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(attempt());  // fonts and faces are made once
  const Korvath::Test::HandleCounts before = Korvath::Test::handleCounts();
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(attempt()) << "attempt " << i;
  const Korvath::Test::HandleCounts after = Korvath::Test::handleCounts();
  std::printf("GDI objects %lu -> %lu, USER objects %lu -> %lu over 50 sign-ins\n", before.gdi, after.gdi, before.user, after.user);
  // A handle kept per sign-in adds fifty; Wine's display driver may hold one or two of its own
  // for a moment.
  EXPECT_LE(after.gdi, before.gdi + 2);
  EXPECT_LE(after.user, before.user + 2);
}

// Run once per language and scale (CMakeLists.txt): the geometry, and screenshots.
using DialogScreens = DialogFrame;

TEST_F(DialogScreens, OptionButtonsStandWhereTheyBelongWithoutBackOverRemoteDesktop) {
  ASSERT_EQ(s_, View::Utils::getScaleFactor());
  const int x[2][4] = {{425, 515, 605, 695}, {637, 772, 907, 1042}};  // trunc(s*425), then + w + 0.12 w
  const int* at = x[s_ == 1.0 ? 0 : 1];
  const auto scaled = [&](double v) { return static_cast<int>(s_ * v); };
  const struct {
    const char* name;
    bool push, qrcode, otp, forgotToken, rdp;
    std::vector<int> options;  // in their order on the screen
  } cases[] = {
      {"every option", true, true, true, true, false, {210, 211, 212, 213}},
      {"push and OTP over Remote Desktop", true, false, true, true, true, {210, 212, 213}},
      {"OTP only", false, false, true, false, false, {212}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    offlineWith("alice", c.push, c.qrcode, c.otp, "otp", c.forgotToken);
    Attempt shown({"alice"}, c.rdp);
    HWND dialog = shown.dialog;
    ASSERT_NE(nullptr, dialog);
    for (int id = kCmdPush; id <= static_cast<int>(kCmdForgotToken); ++id) {
      const auto slot = std::find(c.options.begin(), c.options.end(), id);
      HWND button = GetDlgItem(dialog, id);
      ASSERT_EQ(slot != c.options.end(), button != nullptr) << id;
      if (button == nullptr) continue;
      const RECT r = rectIn(button, dialog);
      EXPECT_EQ(at[slot - c.options.begin()], r.left) << id;
      EXPECT_EQ(scaled(400), r.top) << id;
      EXPECT_EQ(scaled(81), r.right - r.left) << id;
      // The label right below, with the option's text, whole inside the dialog.
      HWND label = statics(dialog, id).at(0);
      const RECT l = rectIn(label, dialog);
      RECT client;
      GetClientRect(dialog, &client);
      EXPECT_EQ(r.bottom, l.top);
      EXPECT_LE(l.bottom, client.bottom);
      EXPECT_EQ(productText(static_cast<UINT>(455 + id - kCmdPush)), text(label));
    }
    // "Sign-in Options" above the line, as high as its text needs: at least trunc(s*16) + 1.
    const RECT o = rectIn(GetDlgItem(dialog, kIdSignInOptionsLabel), dialog);
    EXPECT_EQ(productText(442), text(GetDlgItem(dialog, kIdSignInOptionsLabel)));
    EXPECT_EQ(scaled(435), o.left);
    EXPECT_EQ(scaled(370) + scaled(16) + 1, o.bottom);
    EXPECT_LE(o.top, scaled(370));
    EXPECT_EQ(!c.rdp, GetDlgItem(dialog, kCmdBack) != nullptr);
    EXPECT_TRUE(c.options.size() < 4 || Korvath::Test::saveScreenshot(dialog, L"dialog-options"));
    EXPECT_EQ(S_OK, MfaDialog::closeWindow());
    ASSERT_TRUE(shown.finished());
  }
}

TEST_F(DialogScreens, AboutAndTheErrorPanel) {
  offlineWith("alice", true, true, true, "otp");
  {
    Attempt shown({"alice"});
    ASSERT_NE(nullptr, shown.dialog);
    shown.click(shown.dialog, kCmdAbout);
    HWND about = Korvath::Test::waitForWindow(kAboutDialogClass);
    ASSERT_NE(nullptr, about);
    ASSERT_TRUE(shown.driver->sync());
    EXPECT_TRUE(Korvath::Test::saveScreenshot(about, L"about"));
    EXPECT_EQ(S_OK, MfaDialog::closeWindow());
    ASSERT_TRUE(shown.finished());
  }
  // The longest start-up message, "User not found" (an empty name list).
  Attempt shown({});
  ASSERT_NE(nullptr, shown.dialog);
  EXPECT_TRUE(Korvath::Test::saveScreenshot(shown.dialog, L"dialog-error-panel"));
  shown.click(shown.dialog, kCmdBack);
  ASSERT_TRUE(shown.finished());
}

}  // namespace
