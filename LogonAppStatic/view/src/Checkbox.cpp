#include "Korvath/View/Checkbox.h"

#include <string>

#include "Korvath/Logger.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"

namespace Korvath {
namespace View {

namespace {

SIZE measure(HWND window, HFONT font, const std::wstring& text) {
  SIZE size{0, 0};
  HDC dc = GetDC(window);
  if (dc == nullptr) return size;
  HGDIOBJ old = SelectObject(dc, font);
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size;
}

}  // namespace

int checkboxBoxHeight(double s, int dpi) {
  const double base = s * 16;
  if (dpi <= 96) return static_cast<std::uint8_t>(base);
  return static_cast<std::uint8_t>(base + (static_cast<double>(dpi) / 96.0 * 6.0 - 7.0));
}

HRESULT Checkbox::createCheckboxWindow(const wchar_t* text, int y, HWND parentWindow, HMODULE moduleHandle) {
  parent = parentWindow;
  module = moduleHandle;
  controlId = kControlId;
  error = S_OK;
  checkbox = nullptr;
  label = nullptr;
  const double s = Utils::getScaleFactor();
  const std::wstring caption = text != nullptr ? text : L"";
  const int box = static_cast<int>(s * 16);
  const int gap = static_cast<int>(s * 6);

  RECT parentRect{};
  GetWindowRect(parent, &parentRect);
  const int parentWidth = parentRect.right - parentRect.left;

  // One pixel smaller at a time until box, gap and text fit, but not below the smallest
  // readable size: a text that never fits must not loop for ever.
  int size = static_cast<std::uint8_t>(s * 16);
  HFONT font = nullptr;
  SIZE extent{0, 0};
  int x = 0;
  for (;;) {
    font = Utils::Font::createFont(size, FW_NORMAL);
    extent = measure(parent, font, caption);
    const int room = parentWidth - (extent.cx + gap + box);
    x = room / 2;
    if (room >= 0 || size <= kCheckboxMinFontSize) break;
    --size;
  }
  if (x < 0) x = 0;
  fontSize = size;

  int dpi = 96;
  if (HDC screen = GetDC(nullptr)) {
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }

  CommonControlsScope controls(module);
  checkbox = CreateWindowExW(WS_EX_WINDOWEDGE, L"Button", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                             x, y, box, checkboxBoxHeight(s, dpi), parent,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId)), module, nullptr);
  if (checkbox == nullptr) {
    error =
        KV_LOG_LAST_ERROR("%s: Failed to create checkbox - [0x%08x]", "Korvath::View::Checkbox::createCheckboxWindow");
    return error;
  }
  label = CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_CENTER,
                          x + gap + box, y, extent.cx, extent.cy, parent,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId)), module, nullptr);
  if (label == nullptr) {
    error =
        KV_LOG_LAST_ERROR("%s: Failed to create checkbox - [0x%08x]", "Korvath::View::Checkbox::createCheckboxWindow");
  } else if (font != nullptr) {
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  ShowWindow(checkbox, SW_SHOW);
  if (label != nullptr) ShowWindow(label, SW_SHOW);
  UpdateWindow(parent);
  return error;
}

}  // namespace View
}  // namespace Korvath
