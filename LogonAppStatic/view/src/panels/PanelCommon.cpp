#include "PanelCommon.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "Korvath/Logger.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"
#include "dialog/TextFit.h"

namespace Korvath {
namespace View {
namespace Panels {

namespace {

constexpr UINT_PTR kControlSubclassId = 0x4B565043;  // "KVPC"
constexpr int kAuthenticationImageId = 120;
constexpr int kMinLabelFontHeight = 8;

std::wstring withoutTrailingBreaks(std::wstring caption) {
  while (!caption.empty() && (caption.back() == L'\n' || caption.back() == L'\r')) caption.pop_back();
  return caption;
}

LRESULT CALLBACK controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  try {
    auto* action = reinterpret_cast<ControlAction*>(ref);
    if (message == WM_NCDESTROY) {
      RemoveWindowSubclass(control, controlProc, kControlSubclassId);
    } else if (action != nullptr) {
      if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        runAction(control, *action);
        return 0;
      }
      if (action->digitsOnly && message == WM_CHAR && !(wParam >= L'0' && wParam <= L'9') && wParam != VK_BACK) {
        return 0;
      }
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", "Korvath::View::Panels::controlProc", e.what());
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", "Korvath::View::Panels::controlProc", "unknown");
  }
  return DefSubclassProc(control, message, wParam, lParam);
}

}  // namespace

double scale() { return Utils::getScaleFactor(); }

int px(double designPixels) { return static_cast<int>(scale() * designPixels); }

std::wstring text(int id) { return Korvath::Utils::LanguageUtil::GetWText(static_cast<UINT>(id)); }

HBRUSH backgroundBrush() {
  static HBRUSH brush = CreateSolidBrush(kBackgroundColour);
  return brush;
}

bool registerWindowClass(HMODULE module, const wchar_t* className, WNDPROC proc, const char* where,
                         const char* failureFormat) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = proc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = backgroundBrush();
  wc.lpszClassName = className;
  if (RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
  if (failureFormat != nullptr) KV_LOG_LAST_ERROR(failureFormat, where);
  return false;
}

HWND createPanelWindow(HWND dialog, HMODULE module, const wchar_t* className, UINT id, void* state,
                       const char* where, const char* failureFormat, HRESULT& error) {
  // The panel ends above the dialog's "Sign-in Options" label where that grows up into the
  // panel's bottom margin (a tall script, two lines): under a panel, the label's top is painted over.
  int height = px(360);
  HWND label = dialog != nullptr ? GetDlgItem(dialog, static_cast<int>(kIdSignInOptionsLabel)) : nullptr;
  if (label != nullptr) height = std::min<int>(height, rectInParent(label).top - px(10));
  HWND panel = CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE, className, L"", WS_CHILD | WS_VISIBLE, px(440),
                               px(10), px(380), height, dialog, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                               module, state);
  if (panel == nullptr) error = KV_LOG_LAST_ERROR(failureFormat, where);
  return panel;
}

void closePanel(HWND panel) {
  if (panel == nullptr || !IsWindow(panel)) return;
  DestroyWindow(panel);
  if (IsWindow(panel)) SetWindowLongPtrW(panel, GWLP_USERDATA, 0);
}

RECT rectInParent(HWND window) {
  RECT r{0, 0, 0, 0};
  if (window == nullptr) return r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int usableBottom(HWND panel) {
  RECT client{0, 0, 0, px(360)};
  if (panel == nullptr) return client.bottom;
  GetClientRect(panel, &client);
  int bottom = client.bottom > 0 ? client.bottom : px(360);
  HWND dialog = GetParent(panel);
  HWND label = dialog != nullptr ? GetDlgItem(dialog, static_cast<int>(kIdSignInOptionsLabel)) : nullptr;
  // The label's own style, not IsWindowVisible: the first panel is made before the dialog is shown.
  if (label != nullptr && (GetWindowLongPtrW(label, GWL_STYLE) & WS_VISIBLE) != 0) {
    RECT r;
    GetWindowRect(label, &r);
    MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&r), 2);
    RECT inside;
    const RECT whole{0, 0, client.right, bottom};
    if (IntersectRect(&inside, &r, &whole)) bottom = std::min<int>(bottom, r.top);
  }
  return bottom;
}

void keepStateOnCreate(HWND window, UINT message, LPARAM lParam) {
  if (message != WM_NCCREATE) return;
  const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

LRESULT guarded(const char* where, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                const std::function<LRESULT()>& handler) {
  try {
    return handler();
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", where, e.what());
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", where, "unknown");
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT colourStatic(WPARAM hdc, LPARAM control) {
  HDC dc = reinterpret_cast<HDC>(hdc);
  SetBkColor(dc, kBackgroundColour);
  switch (GetDlgCtrlID(reinterpret_cast<HWND>(control))) {
    case kErrorMessageLabelId:
    case kRequestIdLabelId:
      SetTextColor(dc, kErrorTextColour);
      break;
    case kHowToLinkId:
      SetTextColor(dc, kLinkColour);
      break;
    case kExpiresInLabelId:
    case kHoursLabelId:
    case kMinutesLabelId:
      SetTextColor(dc, kSecondaryTextColour);
      break;
    default:
      break;
  }
  return reinterpret_cast<LRESULT>(backgroundBrush());
}

namespace {
RECT measureWrapped(HWND window, HFONT font, const std::wstring& caption, int width) {
  RECT r{0, 0, width, 0};
  HDC dc = GetDC(window);
  if (dc == nullptr) return r;
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  const std::wstring measured = withoutTrailingBreaks(caption);
  DrawTextW(dc, measured.empty() ? L" " : measured.c_str(), -1, &r,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(window, dc);
  return r;
}
}  // namespace

int textHeight(HWND window, HFONT font, const std::wstring& caption, int width) {
  const RECT r = measureWrapped(window, font, caption, width);
  return r.bottom - r.top;
}

int wrappedWidth(HWND window, HFONT font, const std::wstring& caption, int width) {
  const RECT r = measureWrapped(window, font, caption, width);
  return r.right - r.left;
}

int textWidth(HWND window, HFONT font, const std::wstring& caption) {
  HDC dc = GetDC(window);
  if (dc == nullptr) return 0;
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  SIZE size{0, 0};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

int editHeightFor(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  if (dc == nullptr) return 0;
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(window, dc);
  // The cell, one pixel of margin above and below, and the one-pixel border on each side.
  return metrics.tmHeight + 4;
}

int fitEditBox(HWND edit, const std::wstring& cue) {
  if (edit == nullptr) return 0;
  const RECT r = rectInParent(edit);
  HWND parent = GetParent(edit);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
  const int height = std::max<int>(r.bottom - r.top, editHeightFor(edit, font));
  int left = r.left;
  int width = r.right - r.left;
  if (!cue.empty()) {
    // The text, the edit control's own margins (about half a character each) and the border.
    const int needed = textWidth(edit, font, cue) + textWidth(edit, font, L"00") + 2 * GetSystemMetrics(SM_CXEDGE);
    RECT client{0, 0, px(380), 0};
    if (parent != nullptr) GetClientRect(parent, &client);
    const int widest = client.right - 2 * px(10);
    if (needed > width) {
      const int centre = left + width / 2;
      width = std::min(needed, widest);
      left = std::max(px(10), centre - width / 2);
      if (left + width > client.right - px(10)) left = client.right - px(10) - width;
    }
  }
  if (height != r.bottom - r.top || left != r.left || width != r.right - r.left) {
    SetWindowPos(edit, nullptr, left, r.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return height;
}

int createCodeBox(Editbox& box, HWND panel, HMODULE module, int x, int top, UINT id, int cueTextId) {
  const std::wstring cue = L" " + text(cueTextId);
  box = Editbox(kCodeBoxStyle, x, top, px(196), px(20), panel, id, module, cue);
  return fitEditBox(box.window(), cue);
}

void clearText(const Editbox& box) {
  if (HWND edit = box.window()) SetWindowTextW(edit, L"");
}

namespace {
// A caption longer than the design's width (a translation) or taller than its height (an accent,
// a descender, a Thai mark): the button grows about the panel's centre, its top staying, until
// the caption's ink lies inside its two-pixel frame, as the button centres it.
void growToCaption(HWND button, const std::wstring& caption, int width, int top) {
  constexpr int kFrame = 2;
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0));
  TEXTMETRICW metrics{};
  if (HDC dc = GetDC(button)) {
    HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
    GetTextMetricsW(dc, &metrics);
    if (old != nullptr) SelectObject(dc, old);
    ReleaseDC(button, dc);
  }
  int rise = 0;
  int drop = 0;
  inkExtent(button, font, caption, rise, drop);
  const int neededWidth = std::max(width, textWidth(button, font, caption) + 2 * (kFrame + px(3)));
  int height = px(22);
  for (; height < 4 * px(22); ++height) {
    const int cellTop = kFrame + (height - 2 * kFrame - static_cast<int>(metrics.tmHeight)) / 2;
    if (cellTop + metrics.tmAscent - rise >= kFrame && cellTop + metrics.tmAscent + drop <= height - kFrame) break;
  }
  if (neededWidth != width || height != px(22)) {
    SetWindowPos(button, nullptr, px(380) / 2 - neededWidth / 2, top, neededWidth, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}
}  // namespace

HRESULT createCentredButton(Button& button, HWND panel, HMODULE module, int textId, int top, int width, UINT id) {
  const std::wstring caption = text(textId);
  const HRESULT created =
      button.createButtonWindow(caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, px(380) / 2 - width / 2, top,
                                width, px(22), panel, id, module, SvgSource());
  if (button.button != nullptr) growToCaption(button.button, caption, width, top);
  return created;
}

HRESULT createEnterButton(Button& enter, HWND panel, HMODULE module, int top, UINT id) {
  return createCentredButton(enter, panel, module, 443, top, px(100), id);
}

HRESULT createErrorLabels(ErrorMessage& labels, HWND panel, HMODULE module, ErrorKind kind, int top, int requestIdTop) {
  return labels.createErrorMessageComponent(panel, module, kind, top, requestIdTop, 4 * px(16) - 2);
}

void showError(ErrorMessage& labels, const ErrorText& error) {
  if (error.empty()) return;
  labels.text() = error;
  labels.show();
}

HWND createLabel(HWND parent, HMODULE module, const std::wstring& caption, DWORD exStyle, DWORD style, int x, int y,
                 int width, int height, UINT id, int fontHeight, int fontWeight) {
  const DWORD type = style & SS_TYPEMASK;
  const UINT align = type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
  HFONT font = Utils::Font::createFont(fontHeight, fontWeight);
  for (;;) {
    if (wrappedWidth(parent, font, caption, width) <= width) {
      if (!endsWithLoneCharacter(parent, font, caption, width, align)) break;
      // A last line of one character (Japanese and Chinese break anywhere): the same lines
      // balanced in a narrower label, in the same place.
      const int narrower = balancedWidth(parent, font, caption, width, align);
      if (!endsWithLoneCharacter(parent, font, caption, narrower, align)) {
        x += align == DT_CENTER ? (width - narrower) / 2 : align == DT_RIGHT ? width - narrower : 0;
        width = narrower;
        break;
      }
    }
    if (fontHeight <= kMinLabelFontHeight) break;
    font = Utils::Font::createFont(--fontHeight, fontWeight);
  }
  height = std::max(height, textHeight(parent, font, caption, width));
  HWND label = CreateWindowExW(exStyle, L"STATIC", caption.c_str(), style, x, y, width, height, parent,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
  if (label != nullptr && font != nullptr) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return label;
}

void paintAuthenticationImage(HWND panel, HMODULE module) {
  paintWindow(panel, [module](HDC dc) {
    KV_LOG_DEBUG("%s - Setting authentication image.", "Korvath::View::Panels::drawAuthenticationImage");
    DrawRect rect;
    rect.x = static_cast<std::uint16_t>(scale() * 380 / 2 - scale() * 112 / 2);
    rect.y = static_cast<std::uint16_t>(px(23));
    rect.width = static_cast<std::uint16_t>(px(112));
    rect.height = rect.width;
    drawSvgImage(dc, loadSvgResource(module, kAuthenticationImageId), rect);
  });
}

bool appendDigit(HWND edit, WPARAM digit) {
  if (edit == nullptr || digit > 9 || GetFocus() == edit) return false;
  const wchar_t text[2] = {static_cast<wchar_t>(L'0' + digit), L'\0'};
  const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
  InvalidateRect(edit, nullptr, TRUE);
  UpdateWindow(edit);
  SetFocus(edit);
  return true;
}

bool subclassControl(HWND control, ControlAction* action) {
  return control != nullptr && SetWindowSubclass(control, controlProc, kControlSubclassId,
                                                 reinterpret_cast<DWORD_PTR>(action)) != FALSE;
}

void runAction(HWND control, const ControlAction& action) {
  if (action.onEnter) action.onEnter();
  if (action.keepsFocus && control != nullptr) SetFocus(control);
}

HRESULT CodeEntry::create(HWND panel, HMODULE module, int boxTop, UINT boxId, int enterTop, UINT enterId,
                          ErrorKind kind, int errorTop, const std::function<void()>& submit) {
  createCodeBox(box, panel, module, px(380) / 2 - px(196) / 2, boxTop, boxId, 400);
  HRESULT result = box.error;
  result |= createEnterButton(enter, panel, module, enterTop, enterId);
  result |= createErrorLabels(errorMessage, panel, module, kind, errorTop);
  // A long sentence with the service's error code and the request ID needs more lines than the
  // design gives it below Enter (the QR panel at scale 1).
  if (enter.button != nullptr) errorMessage.mayRiseTo(static_cast<int>(rectInParent(enter.button).bottom) + 4);
  boxAction.onEnter = submit;
  boxAction.digitsOnly = true;
  boxAction.keepsFocus = true;
  enterAction.onEnter = submit;
  enterAction.keepsFocus = true;
  if (result == S_OK) {
    subclassControl(box.window(), &boxAction);
    subclassControl(enter.button, &enterAction);
  }
  return result;
}

bool clickTimerRunOut(Korvath::Utils::Timer* clickTimer) { return clickTimer == nullptr || clickTimer->isTimeOut(); }

void startClickTimer(Korvath::Utils::Timer* clickTimer) {
  if (clickTimer != nullptr) clickTimer->start(100, 0);
}

void enable(HWND control, HWND label, bool enabled) {
  if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
  if (label != nullptr) EnableWindow(label, enabled ? TRUE : FALSE);
}

}  // namespace Panels
}  // namespace View
}  // namespace Korvath
