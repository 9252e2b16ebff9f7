#include "DialogUiSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/MfaDialog.h"

using namespace Korvath;
using namespace Korvath::View;
using Korvath::Test::Image;

namespace DialogUi {

std::wstring productText(UINT id) { return Utils::LanguageUtil::GetWText(id); }

std::vector<HWND> statics(HWND parent, int id) {
  std::vector<HWND> found;
  for (HWND child = nullptr; (child = FindWindowExW(parent, child, L"Static", nullptr)) != nullptr;)
    if (id < 0 || GetDlgCtrlID(child) == id) found.push_back(child);
  return found;
}

namespace {

UINT runMessage() {
  static const UINT message = RegisterWindowMessageW(L"Korvath.Test.RunOnThread");
  return message;
}

// Sees every message sent to a window of the thread before its window procedure does.
LRESULT CALLBACK runHook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == runMessage()) (*reinterpret_cast<const std::function<void()>*>(sent->lParam))();
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

bool runOnThreadOf(HWND window, const std::function<void()>& work) {
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, runHook, nullptr, GetWindowThreadProcessId(window, nullptr));
  if (hook == nullptr) return false;
  bool ran = false;
  const std::function<void()> marked = [&] {
    work();
    ran = true;
  };
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(window, runMessage(), 0, reinterpret_cast<LPARAM>(&marked), SMTO_NORMAL, 120000, &answer);
  UnhookWindowsHookEx(hook);
  return ran;
}

Attempt::Attempt(std::vector<std::string> names, bool isRdp, bool logonUiWindow)
    : names_(std::move(names)), isRdp_(isRdp), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  thread_ = std::thread([this, logonUiWindow] {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (logonUiWindow) logonUi = Test::createHostWindow(L"LogonUI", 200, 100);
    threadId = GetCurrentThreadId();
    {
      MfaDialog gate(&isRdp_, &names_, productModule(), &clientIp_);
      MfaDialog::closeWindow();
      gate.start();
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
  if (dialog != nullptr) driver.reset(new Test::WindowDriver(dialog));
  if (driver) driver->sync();
}

Attempt::~Attempt() {
  driver.reset();
  for (int i = 0; i < 600 && !finished(100); ++i) {
    for (const wchar_t* name : {kAboutDialogClass, kHowToDialogClass, kMfaDialogClass})
      if (HWND window = FindWindowW(name, nullptr)) PostMessageW(window, WM_CLOSE, 0, 0);
  }
  thread_.join();
  CloseHandle(done_);
}

bool Attempt::finished(DWORD timeoutMs) { return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0; }

UINT Attempt::panel() const {
  for (UINT id : {kPushPanelId, kQrCodePanelId, kOtpPanelId, kForgotTokenActivationPanelId,
                  kForgotTokenAuthenticationPanelId, kErrorMessagePanelId}) {
    HWND panel = GetDlgItem(dialog, static_cast<int>(id));
    if (panel != nullptr && IsWindowVisible(panel)) return id;
  }
  return 0;
}

HWND Attempt::item(int id, UINT panelId) const {
  return GetDlgItem(panelId == 0 ? dialog : GetDlgItem(dialog, static_cast<int>(panelId)), id);
}

std::wstring Attempt::shown(int id, UINT panelId) {
  driver->sync();
  HWND control = item(id, panelId);
  return control != nullptr && IsWindowVisible(control) ? driver->text(control) : std::wstring();
}

bool Attempt::click(int id, UINT panelId) { return driver->click(item(id, panelId)); }

void DialogTest::SetUp() {
  AgentSimTest::SetUp();
  ASSERT_NE(productModule(), nullptr) << "KvCredProv.dll";
  Utils::LanguageUtil::setResourceModule(productModule());
  tearDownMfaDialog();
  // Real time: the simulator checks QR answers and dates forgot-token periods by its clock.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  clock_.set((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

void DialogTest::TearDown() {
  tearDownMfaDialog();
  AgentSimTest::TearDown();
}

void DialogTest::offlineWith(const std::string& login, bool push, bool qrcode, bool otp, const std::string& last,
                             bool forgotToken) {
  writeAgentConfig({DialogSim::storedUser(login, push, qrcode, otp, last)},
                   [&](ServerConfig& server) { server.setEnableForgotAuthenticator(forgotToken ? 1 : 0); });
  pointAt(CloudTest::closedPort());
}

void DialogTest::advanceMs(std::uint64_t ms) { clock_.set(clock_.nowFileTime() + ms * 10000ull); }

bool DialogTest::press(Attempt& attempt, UINT panelId, int id) {
  advanceMs(100);
  return attempt.click(id, panelId);
}

namespace {

// The Unix path of a Windows path (Wine's own mapping).
std::string unixPath(const std::wstring& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = convert != nullptr ? convert(path.c_str()) : nullptr;
  if (unix == nullptr) return std::string();
  std::string result(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

}  // namespace

std::string DialogTest::decodeQr(const Image& image, const std::wstring& name) {
  // The dialog's background around the code, as far as a scanner needs a quiet zone.
  const int margin = 40;
  const int width = image.width + 2 * margin;
  Image framed{width, image.height + 2 * margin,
               std::vector<std::uint32_t>(static_cast<std::size_t>(width) * (image.height + 2 * margin), 0xF0F0F0)};
  for (int y = 0; y < image.height; ++y)
    std::copy_n(&image.pixels[static_cast<std::size_t>(y) * image.width], image.width,
                &framed.pixels[static_cast<std::size_t>(y + margin) * width + margin]);
  const std::wstring png = Korvath::Test::screenshotPath(name), out = png + L".txt";
  DeleteFileW(out.c_str());
  const std::string pngUnix = unixPath(png), outUnix = unixPath(out);
  if (!Korvath::Test::savePng(framed, png) || pngUnix.empty() || outUnix.empty()) return std::string();
  // zbarimg is a host program: Wine starts it without a handle to wait on, so the result is
  // written under another name and renamed when complete.
  const std::string script =
      "zbarimg --raw -q '" + pngUnix + "' > '" + outUnix + ".part'; mv '" + outUnix + ".part' '" + outUnix + "'";
  std::wstring commandLine = L"/bin/sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start zbarimg: " << GetLastError();
    return std::string();
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  for (int wait = 0; wait < 600 && GetFileAttributesW(out.c_str()) == INVALID_FILE_ATTRIBUTES; ++wait) Sleep(50);
  std::ifstream file(std::filesystem::path(out), std::ios::binary);
  std::string decoded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  while (!decoded.empty() && (decoded.back() == '\n' || decoded.back() == '\r')) decoded.pop_back();
  return decoded;
}

}  // namespace DialogUi
