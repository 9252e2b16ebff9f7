// The About window. It runs modally on the dialog thread: start() disables the dialog, runs a
// loop of its own until the About window is gone and enables the dialog again. The dialog
// thread therefore never stops answering messages (push results, the gate's close, anyone's
// SendMessage), and no thread is ever ended from a window procedure: the window closes by a
// posted WM_CLOSE, and a quit message that arrives meanwhile ends this loop and is posted
// again for the dialog's own loop.

#include "Korvath/View/AboutDialog.h"

#include <atomic>
#include <exception>
#include <string>

#include "DialogWindowState.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/AboutLogic.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/ViewUtils.h"
#include "ResourceIds.h"
#include "TextFit.h"

namespace Korvath {
namespace View {

namespace {

const char* const kAbout = "Korvath::View::AboutDialog";

int scaled(double designPixels) { return static_cast<int>(Utils::getScaleFactor() * designPixels); }

// The About window while it is open (made and closed on the dialog thread).
std::atomic<HWND> aboutWindow{nullptr};

std::u16string lookup(int id) {
  const std::wstring text = Korvath::Utils::LanguageUtil::GetWText(static_cast<UINT>(id));
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::wstring wide(const std::u16string& text) { return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size()); }

HBRUSH backgroundBrush() {
  static const HBRUSH brush = CreateSolidBrush(kBackgroundColour);
  return brush;
}

// The background and the logo (also into another device context on WM_PRINTCLIENT: the back
// button shows them behind its translucent image).
void drawBackground(HWND window, HDC dc) {
  const auto module = reinterpret_cast<HMODULE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  DrawRect whole;
  whole.width = static_cast<std::uint16_t>(scaled(840));
  whole.height = static_cast<std::uint16_t>(scaled(500));
  drawSvgImage(dc, loadSvgResource(module, KV_IDR_SVG_BACKGROUND), whole);
  DrawRect logo;
  logo.x = static_cast<std::uint16_t>(scaled(840) / 2 - scaled(251) / 2);
  logo.y = static_cast<std::uint16_t>(scaled(110));
  logo.width = static_cast<std::uint16_t>(scaled(251));
  logo.height = static_cast<std::uint16_t>(scaled(72));
  drawSvgImage(dc, loadSvgResource(module, KV_IDR_SVG_LOGO), logo);
}

void paintBackground(HWND window) {
  KV_LOG_DEBUG("%s::drawBackground - Setting panel image.", kAbout);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) return;
  drawBackground(window, dc);
  EndPaint(window, &paint);
}

// Closing: the dialog is enabled first, so that it, not some other window, becomes active.
void closeAbout(HWND window) {
  if (HWND dialog = dialogWindowState().window.load()) EnableWindow(dialog, TRUE);
  ShowWindow(window, SW_HIDE);
  DestroyWindow(window);
}

LRESULT CALLBACK aboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_PAINT:
        paintBackground(window);
        return 0;
      case WM_PRINTCLIENT:
        drawBackground(window, reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_COMMAND:
        if (LOWORD(wParam) == kAboutBackButtonId) {
          PostMessageW(window, WM_CLOSE, 0, 0);
          return 0;
        }
        break;
      case WM_CLOSE:
        closeAbout(window);
        return 0;
      case WM_DESTROY:
        aboutWindow.compare_exchange_strong(window, nullptr);
        return 0;
      case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kBackgroundColour);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      }
      default:
        break;
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::aboutProc - exception - e.what(): %s", kAbout, e.what());
    if (message == WM_CLOSE) {
      DestroyWindow(window);
      return 0;
    }
  } catch (...) {
    KV_LOG_ERROR("%s::aboutProc - unknown exception", kAbout);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND addLabel(HWND parent, HMODULE module, const std::wstring& text, DWORD style, int x, int y, int width, int height,
              int fontHeight) {
  HWND label = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TRANSPARENT, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | style, x,
                               y, width, height, parent, nullptr, module, nullptr);
  if (label == nullptr) {
    KV_LOG_ERROR("Failed in %s: 0x%08x", "Korvath::View::AboutDialog::createAboutDialog",
                 static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
    return nullptr;
  }
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(Utils::Font::createFont(fontHeight, 400)), TRUE);
  return label;
}

HWND createAboutDialog(const Service::ServiceResponseAbout& about, HMODULE module) {
  CommonControlsScope controls(module);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = aboutProc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.hbrBackground = backgroundBrush();
  wc.lpszClassName = kAboutDialogClass;
  RegisterClassExW(&wc);  // an existing class is the one registered before

  const double s = Utils::getScaleFactor();
  const int width = scaled(840);
  const int height = scaled(500);
  HWND window = CreateWindowExW(WS_EX_TOPMOST, kAboutDialogClass, kDialogTitle, WS_POPUP | WS_BORDER | WS_SYSMENU,
                                static_cast<int>(GetSystemMetrics(SM_CXSCREEN) / 2 - s * 840 * 0.5),
                                static_cast<int>(GetSystemMetrics(SM_CYSCREEN) / 2 - s * 500 * 0.5), width, height, nullptr,
                                nullptr, module, nullptr);
  if (window == nullptr) {
    KV_LOG_ERROR("Failed in %s: 0x%08x", "Korvath::View::AboutDialog::createAboutDialog",
                 static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
    return nullptr;
  }
  Button back;
  back.createButtonWindow(L"back", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_BITMAP, scaled(10), scaled(10), scaled(30),
                          scaled(30), window, kAboutBackButtonId, module, loadSvgResource(module, KV_IDR_SVG_BACK_ABOUT));
  const int s16 = scaled(16);
  const int s32 = scaled(32);
  const int versionTop = scaled(110) + scaled(72) + scaled(40);
  const int versionHeight = static_cast<int>(1.3 * s32);
  // Each label takes the height its text needs (Thai lines are higher than the design's),
  // the notice staying below the version and the support lines at the bottom.
  HWND version = addLabel(window, module, wide(aboutVersionText(lookup)), SS_CENTER, 0, versionTop, width, versionHeight, s32);
  fitLabelToText(version, false);
  RECT below{0, versionTop + versionHeight, 0, 0};
  if (version != nullptr) {
    GetWindowRect(version, &below);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&below), 2);
  }
  HWND notice = addLabel(window, module, wide(aboutNoticeText(lookup(418))), SS_CENTER, 0, below.bottom + s16, width, 2 * s16, s16);
  fitLabelToText(notice, false);
  RECT client{};
  GetClientRect(window, &client);
  HWND support = addLabel(window, module, wide(aboutSupportText(lookup, about)), WS_SYSMENU, scaled(20),
                          client.bottom - scaled(5) - 3 * s16, scaled(800), 3 * s16, s16);
  fitLabelToText(support, true);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return window;
}

}  // namespace

void AboutDialog::start(const Service::ServiceResponseAbout& about, HMODULE module) {
  try {
    if (aboutWindow.load() != nullptr) return;  // one About window at a time
    HWND dialog = dialogWindowState().window.load();
    HWND window = createAboutDialog(about, module);
    if (window == nullptr) return;
    aboutWindow = window;
    if (dialog != nullptr) EnableWindow(dialog, FALSE);
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (IsWindow(window)) {
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
    if (IsWindow(window)) closeAbout(window);
    if (dialog != nullptr && IsWindow(dialog)) EnableWindow(dialog, TRUE);
    aboutWindow = nullptr;
    // The dialog's loop must see the quit message too (the dialog closed meanwhile).
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::start - exception - e.what(): %s", kAbout, e.what());
  }
}

HWND AboutDialog::window() { return aboutWindow.load(); }

}  // namespace View
}  // namespace Korvath
