#include "dialog/TopLevelWindow.h"

#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ViewUtils.h"
#include "ResourceIds.h"
#include "Win32Helpers.h"
#include "panels/PanelCommon.h"

namespace Korvath {
namespace View {
namespace TopLevel {

using Panels::px;

HWND createCentred(HMODULE module, const wchar_t* className, HWND owner, const char* where, const char* failureFormat) {
  const double s = Utils::getScaleFactor();
  const int x = static_cast<int>(GetSystemMetrics(SM_CXSCREEN) / 2 - s * 840 * 0.5);
  const int y = static_cast<int>(GetSystemMetrics(SM_CYSCREEN) / 2 - s * 500 * 0.5);
  HWND window = CreateWindowExW(WS_EX_TOPMOST, className, kDialogTitle, WS_POPUP | WS_BORDER | WS_SYSMENU, x, y,
                                px(840), px(500), owner, nullptr, module, nullptr);
  if (window == nullptr) KV_LOG_LAST_ERROR(failureFormat, where);
  return window;
}

void drawBackground(HWND window, HDC dc, const DrawRect& logo) {
  const auto module = reinterpret_cast<HMODULE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  DrawRect whole;
  whole.width = static_cast<std::uint16_t>(px(840));
  whole.height = static_cast<std::uint16_t>(px(500));
  drawSvgImage(dc, loadSvgResource(module, KV_IDR_SVG_BACKGROUND), whole);
  drawSvgImage(dc, loadSvgResource(module, KV_IDR_SVG_LOGO), logo);
}

bool handleModal(const ModalWindow& modal, HWND window, UINT message, WPARAM wParam, LRESULT& result) {
  result = 0;
  switch (message) {
    case WM_PAINT:
      paintWindow(window, [&](HDC dc) { modal.paint(window, dc); });
      return true;
    case WM_PRINTCLIENT:
      modal.print(window, reinterpret_cast<HDC>(wParam));
      return true;
    case WM_COMMAND:
      if (wParam != modal.backButtonId) return false;
      PostMessageW(window, WM_CLOSE, 0, 0);
      return true;
    case WM_CLOSE:
      modal.close(window);
      return true;
    case WM_DESTROY: {
      HWND expected = window;
      modal.current->compare_exchange_strong(expected, nullptr);
      return true;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kBackgroundColour);
      SetBkMode(dc, TRANSPARENT);
      result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      return true;
    }
    default:
      return false;
  }
}

void closeModal(HWND window, HWND owner) {
  if (owner != nullptr && IsWindow(owner)) EnableWindow(owner, TRUE);
  ShowWindow(window, SW_HIDE);
  DestroyWindow(window);
}

void ModalLoop::run(HWND window) {
  MSG msg;
  while (IsWindow(window)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit_ = true;
      quitCode_ = msg.wParam;
      break;
    }
    if (got == -1) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void ModalLoop::repostQuit() const {
  if (quit_) PostQuitMessage(static_cast<int>(quitCode_));
}

}  // namespace TopLevel
}  // namespace View
}  // namespace Korvath
