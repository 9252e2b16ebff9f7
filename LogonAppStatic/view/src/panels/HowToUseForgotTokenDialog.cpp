// The forgot-token help window. It runs modally on the thread that opens it (the MFA dialog's
// thread) with a message loop of its own that serves every window of that thread: the dialog
// keeps painting and answering messages sent to it from other threads (LogonUI, the push
// waiter's posts), so nothing can wait on a thread that waits for the help window. The dialog
// is disabled for input meanwhile, as under any modal window. The window closes by a posted
// WM_CLOSE; no thread is started or ended for it. A WM_QUIT that reaches the loop (the dialog
// closing for good) closes the window and is posted again so that the dialog's own loop ends
// too.

#include <atomic>

#include "Korvath/Logger.h"
#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Images.h"
#include "PanelCommon.h"
#include "Korvath/View/ViewUtils.h"

namespace Korvath {
namespace View {

namespace {

const char* const kClass = "Korvath::View::HowToUseForgotTokenDialog";
constexpr int kBackgroundImageId = 119;
constexpr int kLogoImageId = 121;
constexpr int kBackImageId = 116;
constexpr int kHelpTextId = 433;

std::atomic<HWND> howToWindow{nullptr};
std::atomic<HMODULE> howToInstance{nullptr};
std::atomic<HWND> howToOwner{nullptr};
void drawBackground(HWND window, HDC dc) {
  KV_LOG_DEBUG("%s - Setting panel image.", kClass);
  const HMODULE module = howToInstance.load();
  DrawRect background;
  background.width = static_cast<std::uint16_t>(Panels::px(840));
  background.height = static_cast<std::uint16_t>(Panels::px(500));
  drawSvgImage(dc, loadSvgResource(module, kBackgroundImageId), background);
  DrawRect logo;
  logo.x = static_cast<std::uint16_t>(Panels::scale() * 840 / 2 - Panels::scale() * 230 / 2);
  logo.y = static_cast<std::uint16_t>(Panels::px(36));
  logo.width = static_cast<std::uint16_t>(Panels::px(230));
  logo.height = static_cast<std::uint16_t>(Panels::px(65));
  drawSvgImage(dc, loadSvgResource(module, kLogoImageId), logo);
  (void)window;
}

void closeHowTo(HWND window) {
  // The owner takes input again before its modal window goes, so that it is activated.
  HWND owner = howToOwner.exchange(nullptr);
  if (owner != nullptr && IsWindow(owner)) EnableWindow(owner, TRUE);
  ShowWindow(window, SW_HIDE);
  DestroyWindow(window);
}

LRESULT CALLBACK howToProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Panels::guarded(kClass, window, message, wParam, lParam, [&]() -> LRESULT {
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        drawBackground(window, dc);
        EndPaint(window, &ps);
        return 0;
      }
      case WM_PRINTCLIENT:
        // Into the back button's face: its translucent image shows the picture behind it.
        drawBackground(window, reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_COMMAND:
        if (wParam == kHowToBackButtonId) {
          PostMessageW(window, WM_CLOSE, 0, 0);
          return 0;
        }
        break;
      case WM_CLOSE:
        closeHowTo(window);
        return 0;
      case WM_DESTROY: {
        HWND expected = window;
        howToWindow.compare_exchange_strong(expected, nullptr);
        return 0;
      }

      case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kBackgroundColour);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      }
      default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  });
}

bool createHowToUseDialog(HMODULE module, HWND owner) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = howToProc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = Panels::backgroundBrush();
  wc.lpszClassName = kHowToDialogClass;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    KV_LOG_ERROR("%s: Failed to register 'How to use forgot token' dialog class [0x%08x]", kClass,
                 static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
  }
  const int width = Panels::px(840);
  const int height = Panels::px(500);
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - static_cast<int>(width * 0.5);
  const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - static_cast<int>(height * 0.5);
  howToInstance = module;
  HWND window = CreateWindowExW(WS_EX_TOPMOST, kHowToDialogClass, kDialogTitle, WS_POPUP | WS_BORDER | WS_SYSMENU, x,
                                y, width, height, owner, nullptr, module, nullptr);
  if (window == nullptr) {
    const DWORD last = GetLastError();
    KV_LOG_ERROR("Failed in %s: 0x%08x", kClass, static_cast<unsigned>(last != 0 ? HRESULT_FROM_WIN32(last) : E_FAIL));
    return false;
  }
  howToWindow = window;
  Button back;
  back.createButtonWindow(L"back", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_BITMAP, Panels::px(10), Panels::px(10),
                          Panels::px(30), Panels::px(30), window, kHowToBackButtonId, module,
                          loadSvgResource(module, kBackImageId));
  const int margin = Panels::px(20);
  HWND help = Panels::createLabel(window, module, Panels::text(kHelpTextId), 0, WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                                  margin, Panels::px(140), width - 2 * margin, height - Panels::px(140), 0,
                                  Panels::px(16) + 4, FW_NORMAL);
  if (help == nullptr) KV_LOG_ERROR("Failed in %s: 0x%08x", kClass, static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  if (back.button != nullptr) SetFocus(back.button);
  return true;
}

}  // namespace

void HowToUseForgotTokenDialog::start(HMODULE module) { start(module, nullptr); }

void HowToUseForgotTokenDialog::start(HMODULE module, HWND owner) {
  try {
    if (HWND open = howToWindow.load()) {
      if (IsWindow(open)) return;  // already shown by an outer call on this thread
    }
    // The dialog takes no input from the moment its modal window exists.
    if (owner != nullptr) {
      howToOwner = owner;
      EnableWindow(owner, FALSE);
    }
    if (!createHowToUseDialog(module, owner)) {
      howToWindow = nullptr;
      HWND stillOwner = howToOwner.exchange(nullptr);
      if (stillOwner != nullptr && IsWindow(stillOwner)) EnableWindow(stillOwner, TRUE);
      return;
    }
    HWND self = howToWindow.load();
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (IsWindow(self)) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        quit = true;
        quitCode = msg.wParam;
        break;
      }
      if (got == -1) break;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (IsWindow(self)) closeHowTo(self);
    HWND stillOwner = howToOwner.exchange(nullptr);
    if (stillOwner != nullptr && IsWindow(stillOwner)) EnableWindow(stillOwner, TRUE);
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
  } catch (...) {
    KV_LOG_ERROR("%s::start - exception - e.what(): %s", kClass, "unknown");
  }
}

HWND HowToUseForgotTokenDialog::window() {
  HWND window = howToWindow.load();
  return window != nullptr && IsWindow(window) ? window : nullptr;
}

}  // namespace View
}  // namespace Korvath
