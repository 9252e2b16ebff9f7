#include "Korvath/View/Button.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "Korvath/Logger.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/Svg.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"

namespace Korvath {
namespace View {

namespace {

constexpr UINT_PTR kImageButtonSubclassId = 0x4B564231;  // one subclass per image button

// One live image button: its SVG and the face composed from it at the button's size.
struct ImageButton {
  SvgSource svg;
  int width = 0;
  int height = 0;
  HBITMAP face = nullptr;  // background and image, made on first paint, remade on resize
  ~ImageButton() {
    if (face != nullptr) DeleteObject(face);
  }
};

// The process-wide image-button table. Entries are removed when their button is destroyed.
struct ImageButtonTable {
  std::mutex mutex;
  std::map<HWND, std::shared_ptr<ImageButton>> buttons;
};

ImageButtonTable& table() {
  static ImageButtonTable instance;
  return instance;
}

std::shared_ptr<ImageButton> find(HWND hwnd) {
  ImageButtonTable& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto found = t.buttons.find(hwnd);
  return found != t.buttons.end() ? found->second : nullptr;
}

void forget(HWND hwnd) {
  std::shared_ptr<ImageButton> entry;
  ImageButtonTable& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto found = t.buttons.find(hwnd);
  if (found == t.buttons.end()) return;
  entry = found->second;
  t.buttons.erase(found);
}

HBRUSH backgroundBrush(HWND hwnd) {
  HWND parent = GetParent(hwnd);
  auto brush = parent != nullptr ? reinterpret_cast<HBRUSH>(GetClassLongPtrW(parent, GCLP_HBRBACKGROUND)) : nullptr;
  // A class brush may also be a system colour index plus one.
  if (reinterpret_cast<ULONG_PTR>(brush) > 0 && reinterpret_cast<ULONG_PTR>(brush) <= COLOR_MENUHILIGHT + 1) {
    return GetSysColorBrush(static_cast<int>(reinterpret_cast<ULONG_PTR>(brush) - 1));
  }
  return brush != nullptr ? brush : GetSysColorBrush(COLOR_BTNFACE);
}

// The face: the parent's background with the SVG drawn over it at the button's client size.
HBITMAP composeFace(HWND hwnd, HDC target, ImageButton& entry, int width, int height) {
  HBITMAP face = CreateCompatibleBitmap(target, width, height);
  if (face == nullptr) return nullptr;
  HDC memory = CreateCompatibleDC(target);
  if (memory == nullptr) {
    DeleteObject(face);
    return nullptr;
  }
  HGDIOBJ old = SelectObject(memory, face);
  RECT all{0, 0, width, height};
  FillRect(memory, &all, backgroundBrush(hwnd));
  // What the parent paints behind the button, when it can paint into a given device context
  // (WM_PRINTCLIENT): a translucent image over artwork shows the artwork, not a grey square.
  DrawThemeParentBackground(hwnd, memory, &all);
  DrawRect rect;
  rect.width = static_cast<std::uint16_t>(width);
  rect.height = static_cast<std::uint16_t>(height);
  drawSvgImage(memory, entry.svg, rect);
  SelectObject(memory, old);
  DeleteDC(memory);
  return face;
}

void drawFace(HWND hwnd, HDC dc) {
  std::shared_ptr<ImageButton> entry = find(hwnd);
  if (!entry || dc == nullptr) return;
  RECT client{};
  GetClientRect(hwnd, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return;
  if (entry->face == nullptr || entry->width != width || entry->height != height) {
    if (entry->face != nullptr) DeleteObject(entry->face);
    entry->width = width;
    entry->height = height;
    entry->face = composeFace(hwnd, dc, *entry, width, height);
  }
  if (entry->face == nullptr) return;
  HDC memory = CreateCompatibleDC(dc);
  if (memory == nullptr) return;
  HGDIOBJ old = SelectObject(memory, entry->face);
  BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
}

void redrawNow(HWND hwnd) {
  if (!IsWindowVisible(hwnd)) return;
  HDC dc = GetDC(hwnd);
  if (dc == nullptr) return;
  drawFace(hwnd, dc);
  ReleaseDC(hwnd, dc);
}

// Messages after which the system button may have drawn its own (empty) face straight onto
// the screen, without WM_PAINT: pressed and released, focus, enabling, text, hover.
bool systemMayHaveDrawn(UINT message) {
  switch (message) {
    case BM_SETSTATE: case BM_SETCHECK: case BM_SETSTYLE: case BM_CLICK: case BM_SETIMAGE:
    case WM_SETFOCUS: case WM_KILLFOCUS: case WM_ENABLE: case WM_SETTEXT: case WM_SETFONT:
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK: case WM_KEYDOWN: case WM_KEYUP:
    case WM_CAPTURECHANGED: case WM_UPDATEUISTATE: case WM_CHANGEUISTATE: case WM_MOUSEMOVE:
    case WM_MOUSELEAVE: case WM_SYSCOLORCHANGE: case WM_STYLECHANGED: case 0x031A /* WM_THEMECHANGED */:
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK imageButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  try {
    switch (message) {
      case WM_PAINT: {
        // The image is the whole face, drawn on every paint: a button uncovered or repainted
        // by the system is never left blank.
        paintWindow(hwnd, [hwnd](HDC dc) { drawFace(hwnd, dc); });
        return 0;
      }
      case WM_PRINTCLIENT:
        drawFace(hwnd, reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_ERASEBKGND:
        return 1;  // the face covers the whole client area
      case WM_NCPAINT: {
        const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        redrawNow(hwnd);
        return result;
      }
      case WM_SIZE: {
        if (std::shared_ptr<ImageButton> entry = find(hwnd)) {
          if (entry->face != nullptr) DeleteObject(entry->face);
          entry->face = nullptr;
        }
        break;
      }
      case WM_NCDESTROY:
        forget(hwnd);
        RemoveWindowSubclass(hwnd, imageButtonProc, kImageButtonSubclassId);
        return DefSubclassProc(hwnd, message, wParam, lParam);
      default:
        break;
    }
    const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
    if (systemMayHaveDrawn(message)) redrawNow(hwnd);
    return result;
  } catch (...) {
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
}

// Height that `text` needs when wrapped at `width` in `font` (the bold one, the wider of the
// two), so that a label never cuts its last line.
int textHeight(HWND window, HFONT font, const wchar_t* text, int width) {
  HDC dc = GetDC(window);
  if (dc == nullptr || font == nullptr) {
    if (dc != nullptr) ReleaseDC(window, dc);
    return 0;
  }
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, width, 0};
  DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return r.bottom - r.top;
}

}  // namespace

HRESULT Button::createButtonWindow(const wchar_t* text, DWORD style, int x, int y, int width, int height,
                                   HWND parentWindow, UINT id, HMODULE moduleHandle, const SvgSource& svg,
                                   bool withLabel, const wchar_t* labelText, int labelHeight, int labelFontSize) {
  controlId = id;
  module = moduleHandle;
  parent = parentWindow;
  error = S_OK;
  button = nullptr;
  label = nullptr;
  labelFont = nullptr;
  labelBoldFont = nullptr;
  const double s = Utils::getScaleFactor();

  CommonControlsScope controls(module);
  button = CreateWindowExW(WS_EX_WINDOWEDGE, L"Button", text != nullptr ? text : L"", style, x, y, width, height,
                           parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
  if (button == nullptr) {
    error = KV_LOG_LAST_ERROR("%s: Failed to create button - [0x%08x]", "Korvath::View::Button::createButtonWindow");
    return error;
  }
  if (!svg.empty()) {
    auto entry = std::make_shared<ImageButton>();
    entry->svg = svg;
    entry->width = width;
    entry->height = height;
    {
      ImageButtonTable& t = table();
      std::lock_guard<std::mutex> lock(t.mutex);
      t.buttons[button] = entry;
    }
    if (!SetWindowSubclass(button, imageButtonProc, kImageButtonSubclassId, 0)) forget(button);
  } else {
    HFONT font = Utils::Font::createFont(static_cast<int>(s * 16 - 1), FW_NORMAL);
    if (font != nullptr) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (withLabel) {
    labelFont = Utils::Font::createFont(labelFontSize, FW_LIGHT);
    labelBoldFont = Utils::Font::createFont(labelFontSize, FW_BLACK);
    const wchar_t* caption = labelText != nullptr ? labelText : (text != nullptr ? text : L"");
    labelHeight = std::max(labelHeight, textHeight(parent, labelBoldFont, caption, width));
    label = CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", caption,
                            WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_CENTER, x, y + height, width, labelHeight, parent,
                            reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
    if (label != nullptr && labelFont != nullptr) {
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont), FALSE);
    }
  }
  ShowWindow(button, SW_SHOW);
  if (label != nullptr) ShowWindow(label, SW_SHOW);
  return error;
}

bool isImageButton(HWND hwnd) { return find(hwnd) != nullptr; }

std::size_t imageButtonCount() {
  ImageButtonTable& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.buttons.size();
}

}  // namespace View
}  // namespace Korvath
