#include "Korvath/View/Editbox.h"

#include <commctrl.h>

#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"

namespace Korvath {
namespace View {

namespace {

constexpr UINT_PTR kMouseBlindSubclassId = 0x4B564D42;

bool isMouseMessage(UINT message) {
  return (message >= WM_MOUSEFIRST && message <= 0x020E /* WM_MOUSEHWHEEL */) || message == WM_NCMOUSEHOVER ||
         message == WM_MOUSEHOVER || message == WM_NCMOUSELEAVE || message == WM_MOUSELEAVE;
}

LRESULT CALLBACK mouseBlindProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (isMouseMessage(message)) return 0;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, mouseBlindProc, kMouseBlindSubclassId);
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace

Editbox::Editbox(DWORD style, int x, int y, int width, int height, HWND parentWindow, UINT id, HMODULE moduleHandle,
                 const std::wstring& cueText)
    : parent(parentWindow), controlId(id), module(moduleHandle) {
  const double s = Utils::getScaleFactor();
  CommonControlsScope controls(module);
  HWND edit = CreateWindowExW(WS_EX_WINDOWEDGE, L"EDIT", L"", style, x, y, width, height, parent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
  if (edit == nullptr) {
    error = KV_LOG_LAST_ERROR("%s: Failed to create editbox - [0x%08x]", "Korvath::View::Editbox::Editbox");
    return;
  }
  const bool thai = PRIMARYLANGID(Korvath::Utils::LanguageUtil::getDisplayLanguage()) == Utils::kThaiPrimaryLanguageId;
  const int height16 = static_cast<int>(s * 16);
  HFONT font = Utils::Font::createFont(thai ? height16 - 2 : height16, FW_NORMAL);
  if (font != nullptr) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (!cueText.empty()) {
    // FALSE: the banner is hidden while the box has the focus.
    SendMessageW(edit, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(cueText.c_str()));
  }
  ShowWindow(edit, SW_SHOW);
  UpdateWindow(parent);
}

HWND Editbox::window() const { return parent != nullptr ? GetDlgItem(parent, static_cast<int>(controlId)) : nullptr; }

std::string Editbox::getText() const {
  wchar_t buffer[511] = {};
  HWND edit = window();
  if (edit == nullptr) return std::string();
  const int length = GetWindowTextW(edit, buffer, 511);
  return Korvath::Utils::toUtf8(std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0));
}

bool makeMouseBlind(HWND edit) {
  if (edit == nullptr || !IsWindow(edit)) return false;
  return SetWindowSubclass(edit, mouseBlindProc, kMouseBlindSubclassId, 0) != FALSE;
}

}  // namespace View
}  // namespace Korvath
